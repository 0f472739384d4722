#pragma once

// The Chinese texts: Qt's own catalogue from beside the executable, and the program's catalogue
// from its resources. Both programs that show popups install them after the application object.
namespace Catalogues {

void install();

} // namespace Catalogues
