// Windows hosts only: a plug-in's error reports are modal message boxes, which a test run
// can neither see nor dismiss. The harness points a loaded module's import of
// USER32.dll!MessageBoxA at a recorder that writes the report as one line
// "caption: text" on standard error, the same line the Linux build writes, so that one
// set of tests checks both. The module itself is not changed on disk or in behaviour:
// only the address its import table holds for MessageBoxA.
#pragma once

namespace qeltest {

// `module` is an HMODULE. Returns false when the module does not import MessageBoxA by
// name from USER32.dll. A box with an owner window or any type other than MB_OK (0) is
// recorded with a bracketed note after the text, so that a test comparing lines catches it.
bool captureMessageBoxes(void* module);

}  // namespace qeltest
