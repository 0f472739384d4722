#pragma once

#include <QJsonObject>

class PreviewInput;

// One start of the program for a preview, on the screen this process has: the program's own
// manager and popups decide, over a store of the preview's own that is thrown away after. Gives
// the verdict: "shown", "popup", "texts" and "links"; draws the popup into the input's picture.
class PreviewDecision
{
public:
    static QJsonObject run(const PreviewInput &input);
};
