#include "MainWindowView.h"

#include "library/MainPages.h"

#include <QStackedWidget>
#include <QVBoxLayout>

MainWindowView::MainWindowView(AppModel& model, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_model(model), m_dialogs(dialogs), m_header(new QVBoxLayout),
      m_content(new QStackedWidget)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_header->setSpacing(0);
    column->addLayout(m_header);
    column->addWidget(m_content, 1);
    // The pages fill the header and the content.
    new MainPages(*this);
}
