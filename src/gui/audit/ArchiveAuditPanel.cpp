#include "audit/ArchiveAuditPanel.h"

#include "design/DesignSystem.h"
#include "design/Icons.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

ArchiveAuditPanel::ArchiveAuditPanel(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("archiveAuditPanel"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setAccessibleName(QStringLiteral("本地归档体检"));

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("shield"));
    icon->setPixmap(Icons::pixmap(QStringLiteral("shield.checkered"), 28,
                                  DS::accent(DS::isDark(*this)), devicePixelRatioF()));
    auto* title = new QLabel(QStringLiteral("本地归档体检"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    big.setBold(true);
    title->setFont(big);
    auto* subtitle = new QLabel(QStringLiteral("检查本机归档是不是还在、还能不能解码"));
    auto* titles = new QVBoxLayout;
    titles->addWidget(title);
    titles->addWidget(subtitle);

    auto* rerun = new QPushButton(QStringLiteral("重新体检"));
    rerun->setObjectName(QStringLiteral("rerun"));
    auto* close = new QPushButton(QStringLiteral("关闭"));
    close->setObjectName(QStringLiteral("close"));
    connect(rerun, &QPushButton::clicked, this, &ArchiveAuditPanel::rerunRequested);
    setFocusProxy(rerun); // opened from the keyboard, Space runs the check
    connect(close, &QPushButton::clicked, this, &ArchiveAuditPanel::closeRequested);

    auto* header = new QHBoxLayout;
    header->addWidget(icon);
    header->addLayout(titles, 1);
    header->addWidget(rerun);
    header->addWidget(close);

    m_summary = new QLabel;
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setWordWrap(true);
    m_summary->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_rows = new QTreeWidget;
    m_rows->setObjectName(QStringLiteral("rows"));
    m_rows->setAccessibleName(QStringLiteral("每条录音的体检结果"));
    m_rows->setColumnCount(3);
    m_rows->setHeaderLabels(
        {QStringLiteral("状态"), QStringLiteral("录音"), QStringLiteral("说明")});
    m_rows->setRootIsDecorated(false);
    m_rows->setWordWrap(true);
    m_rows->setUniformRowHeights(false);
    m_rows->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_rows->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_rows->header()->setStretchLastSection(true);

    m_unlisted = new QLabel;
    m_unlisted->setObjectName(QStringLiteral("unlisted"));
    m_unlisted->setWordWrap(true);
    m_unlisted->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    layout->addLayout(header);
    layout->addWidget(m_summary);
    layout->addWidget(m_rows, 1);
    layout->addWidget(m_unlisted);

    setReport(std::nullopt);
}

void ArchiveAuditPanel::setReport(const std::optional<ArchiveAudit::Report>& report)
{
    m_rows->clear();
    if (!report) {
        m_summary->setText(QStringLiteral("还没体检过"));
        m_rows->hide();
        m_unlisted->hide();
        return;
    }
    m_summary->setText(report->summary());
    m_rows->setVisible(!report->items.isEmpty());
    const QIcon ok = Icons::tinted(QStringLiteral("checkmark.circle.fill"), DS::ok);
    const QIcon warn = Icons::tinted(QStringLiteral("exclamationmark.triangle.fill"), DS::warn);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(report->items.size());
    for (const ArchiveAudit::Item& item : report->items) {
        const bool healthy = item.status == ArchiveAudit::Status::ok;
        const QString label = ArchiveAudit::label(item.status);
        auto* row = new QTreeWidgetItem({label, item.base, item.detail});
        row->setIcon(0, healthy ? ok : warn);
        row->setForeground(0, healthy ? DS::ok : DS::warn);
        row->setToolTip(2, item.detail);
        row->setData(
            0, Qt::AccessibleTextRole,
            QString(item.base + QStringLiteral("，") + label + QStringLiteral("，") + item.detail));
        rows.append(row);
    }
    m_rows->addTopLevelItems(rows);

    // Raw files on disk that no ledger entry accounts for: named, so the user can look at them.
    const QStringList& unlisted = report->unlistedRawPackets;
    m_unlisted->setVisible(!unlisted.isEmpty());
    if (!unlisted.isEmpty()) {
        m_unlisted->setText(QStringLiteral("另有 ") + QString::number(unlisted.size()) +
                            QStringLiteral(" 条裸包在磁盘上但清单没记账：") +
                            unlisted.join(QStringLiteral("、")));
    }
}
