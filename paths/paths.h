// Path helpers: join, test, resolve and split paths; the self-test mode.
#pragma once

#include <cstddef>
#include <cstdint>

// Strings handed out by fsplit_with_allocs and not yet released.
extern int32_t fsplit_leakcheck;

// Appends tail to the path in buf (capacity characters, terminator
// included), adding PATH_SEPARATOR first unless the path is empty, ends in a
// separator or is a bare drive; an empty tail adds nothing. A separator
// that ends the path is '/', this platform's own, or the '\' of a root
// ("\", "C:\"): on Linux a listed name may end in '\', which is then part of
// the name, so the '/' still follows. The one join of a directory and a
// name. The tail is cut to fit. Can't fail.
void StringConcat(wchar_t *buf, size_t capacity, const wchar_t *tail);

// The path in buf (capacity as for StringConcat) made the prefix of its
// entries' paths: the separator StringConcat would put before a name is
// added, if it fits. Can't fail.
void PathEntryPrefix(wchar_t *buf, size_t capacity);

// Whether a directory entry's name is "." or "..". Can't fail.
bool IsDotOrDotDot(const wchar_t *name);

// 1 when path names a directory (a path with a wildcard never does; a root
// or a bare drive always does), else 0.
int IsADir(const wchar_t *path);

// A new string (release with free) holding the absolute form of path, or a
// copy of path when it cannot be resolved. Exhaustion ends the process.
wchar_t *FullPathAlloc(const wchar_t *path);

// Splits path into a directory part and a name part, both new strings
// counted in fsplit_leakcheck. *dir and *name must be null on entry; on a
// bad call both stay as they were (the fault is printed under Debug).
// Exhaustion ends the process.
void fsplit_with_allocs(const wchar_t *path, wchar_t **dir, wchar_t **name);
// Releases the two strings of one split, lowering fsplit_leakcheck by one
// per string released. Can't fail.
void fsplit_dealloc(wchar_t *dir, wchar_t *name);

// The self-test mode: prints the four tables. Can't fail.
void RunSelfTest(void);
void IsADir_unittest(void);
void StringConcat_testcase(const wchar_t *path, const wchar_t *tail);
void fsplit_unittest(void);
void fsplit_testcase(const wchar_t *path, const wchar_t *expected);

// Allocates a zero-filled string of n characters; exhaustion ends the process.
wchar_t *StringAllocOrDie(size_t n);
// A new copy of s; exhaustion ends the process.
wchar_t *StringDupOrDie(const wchar_t *s);
