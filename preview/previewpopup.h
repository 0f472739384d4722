#pragma once

#include "popup/veltrobase.h"

#include <memory>

class QObject;

// One of the program's real popups, as the message manager hands it its content and shows it;
// the preview reads both afterwards.
class PreviewPopup : public VeltroBase
{
public:
    explicit PreviewPopup(std::unique_ptr<VeltroBase> real);

    void setContent(const Json::Value &content) override;
    bool showPopup() override;
    // Kept, so that the preview can look at it once the manager is done.
    bool keepByManager() override { return true; }

    QObject *real() const;
    const Json::Value &content() const { return m_content; }
    bool shown() const { return m_shown; }

private:
    std::unique_ptr<VeltroBase> m_real;
    Json::Value m_content;
    bool m_shown = false;
};
