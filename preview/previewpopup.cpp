#include "preview/previewpopup.h"

#include <QObject>

PreviewPopup::PreviewPopup(std::unique_ptr<VeltroBase> real) : m_real(std::move(real)) { }

void PreviewPopup::setContent(const Json::Value &content)
{
    m_content = content;
    m_real->setContent(content);
}

bool PreviewPopup::showPopup()
{
    m_shown = m_real->showPopup();
    return m_shown;
}

QObject *PreviewPopup::real() const
{
    return dynamic_cast<QObject *>(m_real.get());
}
