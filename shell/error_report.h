// The frame pipeline's error reports. On Windows a modal message box (no owner, OK
// only); elsewhere one line "caption: text" on standard error.
#pragma once

void reportError(const char* text, const char* caption);
