// Slots 61 and 62: is an extension (upper case, with its dot) on the
// executable list or the document list? Whole, case-sensitive comparisons.
#include "module/slots.h"

namespace {

inline constexpr const char *kExecutableExtensions[] = {
    ".EXE", ".COM", ".BAT", ".PIF", ".SYS", ".LNK", ".VBS", ".CPL", ".SCR", ".CMD",
};

// Documents, pictures, sound and video, archives, web pages, then the script
// and shortcut types that are also executable.
inline constexpr const char *kDocumentExtensions[] = {
    ".AVI", ".BMP", ".DOC", ".GIF", ".JPG",  ".PNG",  ".WMV", ".MP3",  ".MPG", ".PDF",
    ".PPT", ".RAR", ".RTF", ".SWF", ".TIF",  ".TXT",  ".WAV", ".XLS",  ".ZIP", ".JPEG",
    ".MPEG", ".HTM", ".HTML", ".PHP", ".BAT", ".PIF", ".LNK", ".VBS", ".CMD",
};

// Byte-for-byte equality, terminating NUL included. Stops at the first
// difference, so nothing behind the argument's NUL is read.
bool same_string(const char *a, const char *b) {
    for (;; a++, b++) {
        if (*a != *b) return false;
        if (*a == '\0') return true;
    }
}

template <size_t N> int32_t listed(const char *const (&list)[N], const char *ext) {
    if (!ext) return 0;  // callers pass a string; a null one is simply not listed
    for (const char *entry : list)
        if (same_string(ext, entry)) return 1;
    return 0;
}

}  // namespace

extern "C" int32_t ext_in_executable_list(const char *ext) { return listed(kExecutableExtensions, ext); }

extern "C" int32_t ext_in_document_list(const char *ext) { return listed(kDocumentExtensions, ext); }
