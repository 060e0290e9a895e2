#include "MainWindowView.h"

#include "widgets/EmptyHint.h"

#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

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
    m_content->addWidget(new EmptyHint(u"waveform"_s, u"还没有录音"_s,
                                       u"把录音笔开机放在旁边，它一广播就会自动导入"_s));
}
