#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

class PreviewInput;

// A whole preview: one start of the program's own at each DPI, each in a process of its own since
// a process reads its display once. Gathers the verdict of the 96 DPI start with the diagnostics
// it wrote, and puts the pictures on a contact sheet.
class PreviewRun
{
public:
    static constexpr int Dpis[] = {96, 120, 144, 168};

    // Nothing when no start gave a verdict; error says why.
    static std::optional<QJsonObject> run(const PreviewInput &input, QString *error);
    // The verdict in words.
    static QString describe(const QJsonObject &verdict);
};
