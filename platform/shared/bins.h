// What both builds' recycle-bin test shares. Never included by the core.
#pragma once

// 1 when name is one of the Windows folders of deleted files and system
// records ("$RECYCLE.BIN", "RECYCLER", "System Volume Information"), in
// any ASCII letter case. Can't fail.
int IsWindowsBinName(const wchar_t *name);
