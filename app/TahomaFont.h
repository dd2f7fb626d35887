#pragma once

// Every form is laid out for Tahoma. Linux has none, and the fallback Qt
// picks there is wider, so captions wrap or are cut. Debian's fonts-wine
// ships a free font with Tahoma's metrics; where the system lacks Tahoma,
// that one is added to the program's own fonts under the same name.
namespace TahomaFont {

// Call once the application object exists and before any window is made.
// Changes nothing where the system has Tahoma. Returns false when no font
// named Tahoma can be had, and the forms fall back to a wider one.
bool ensure();

} // namespace TahomaFont
