#include "library/TranscriptView.h"

#include "design/DesignSystem.h"
#include "format/Fmt.h"
#include "library/TranscriptReader.h"

#include <QCompleter>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

TranscriptView::TranscriptView(TranscriptReader& reader, QWidget* parent)
    : QWidget(parent), m_reader(reader)
{
    auto* heading = new QLabel(QStringLiteral("转写"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("transcriptStatus"));
    m_status->setWordWrap(true);
    m_retry = new QPushButton(QStringLiteral("再读一次"));
    m_retry->setObjectName(QStringLiteral("retry"));
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_retry);

    m_speakers = new QWidget;
    m_speakers->setObjectName(QStringLiteral("speakers"));
    m_speakerRows = new QVBoxLayout(m_speakers);
    m_speakerRows->setContentsMargins(0, 0, 0, 0);
    m_speakerRows->setSpacing(4);

    m_text = new QTextBrowser;
    m_text->setObjectName(QStringLiteral("transcriptText"));
    m_text->setAccessibleName(QStringLiteral("转写全文"));
    m_text->setOpenLinks(false);
    m_text->setMinimumHeight(160);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading);
    layout->addLayout(statusRow);
    layout->addWidget(m_speakers);
    layout->addWidget(m_text, 1);

    connect(m_retry, &QPushButton::clicked, this, [this] {
        if (m_id) {
            m_reader.request(*m_id);
            rebuild();
        }
    });
    connect(&m_reader, &TranscriptReader::loaded, this, [this](const QString& id) {
        if (m_id == id) {
            rebuild();
        }
    });
    connect(&m_reader, &TranscriptReader::failed, this, [this](const QString& id) {
        if (m_id == id) {
            rebuild();
        }
    });
    // Signed in (again, or as someone else): what is shown is read anew with the new client.
    connect(&m_reader, &TranscriptReader::reset, this, [this] {
        if (m_id) {
            m_reader.request(*m_id);
            rebuild();
        }
    });
    hide();
}

void TranscriptView::setTranscriptId(const std::optional<QString>& transcriptId)
{
    // The detail pane passes the id again on every engine change: keep the rows (and a name
    // being typed) unless the transcript is another one. A failed read is retried by hand.
    if (transcriptId == m_id) {
        return;
    }
    m_id = transcriptId;
    setVisible(m_id.has_value());
    if (m_id) {
        m_reader.request(*m_id);
    }
    rebuild();
}

void TranscriptView::rebuild()
{
    while (QLayoutItem* item = m_speakerRows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_text->clear();
    const TranscriptReader::Transcript* t = m_id ? m_reader.cached(*m_id) : nullptr;
    const std::optional<QString> failure = m_id ? m_reader.failure(*m_id) : std::nullopt;
    m_retry->setVisible(!t && failure.has_value());
    m_speakers->setVisible(t != nullptr);
    m_text->setVisible(t != nullptr);
    if (!t) {
        m_status->setText(failure ? QStringLiteral("转写没读出来：") + *failure
                                  : QStringLiteral("正在读取转写…"));
        return;
    }
    m_status->setText(t->unconfirmed() > 0
                          ? QString::number(t->unconfirmed()) +
                                QStringLiteral(" 位说话人待确认，填上名字就记到Mindvault里")
                          : QStringLiteral("说话人都已确认"));
    m_status->setVisible(!t->speakers.isEmpty());

    QHash<QString, double> shares;
    for (const SpeakerShare& s : t->shares) {
        shares.insert(s.label, s.fraction);
    }
    for (const SpeakerRow& speaker : t->speakers) {
        m_speakerRows->addWidget(speakerRow(speaker, shares.value(speaker.label)));
    }

    const QColor secondary = DS::secondaryText(DS::isDark(*this));
    QString html;
    for (const TranscriptSegment& segment : t->segments) {
        html +=
            QStringLiteral("<p><b>") + t->nameOf(segment.speaker).toHtmlEscaped() +
            QStringLiteral("</b> <span style=\"color:") + secondary.name() + QStringLiteral("\">") +
            Fmt::duration(segment.startSeconds())
                .replace(QStringLiteral("—"), QStringLiteral("0:00")) +
            QStringLiteral("</span><br>") + segment.text.toHtmlEscaped() + QStringLiteral("</p>");
    }
    if (t->segments.isEmpty()) {
        html = QStringLiteral("<p>这条转写没有文字。</p>");
    }
    m_text->setHtml(html);
}

QWidget* TranscriptView::speakerRow(const SpeakerRow& speaker, double share)
{
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("speaker-") + speaker.label);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QString who = speaker.inferredIdentity && !speaker.inferredIdentity->isEmpty()
                            ? *speaker.inferredIdentity
                            : speaker.label;
    auto* label = new QLabel(who + QStringLiteral("　") + QString::number(qRound(share * 100)) +
                             QStringLiteral("%"));
    layout->addWidget(label);
    if (speaker.confirmed) {
        auto* done = new QLabel(QStringLiteral("已确认"));
        done->setStyleSheet(QStringLiteral("color: %1;").arg(DS::ok.name()));
        layout->addWidget(done);
        layout->addStretch(1);
        row->setAccessibleName(who + QStringLiteral("，已确认"));
        return row;
    }
    auto* edit = new QLineEdit;
    edit->setObjectName(QStringLiteral("name"));
    edit->setPlaceholderText(QStringLiteral("这是谁？"));
    edit->setAccessibleName(speaker.label + QStringLiteral(" 的名字"));
    if (speaker.inferredIdentity) {
        edit->setText(*speaker.inferredIdentity);
    }
    auto* confirm = new QPushButton(QStringLiteral("确认"));
    confirm->setObjectName(QStringLiteral("confirmSpeaker"));
    confirm->setAccessibleName(QStringLiteral("确认 ") + speaker.label + QStringLiteral(" 的名字"));
    auto* note = new QLabel;
    note->setObjectName(QStringLiteral("note"));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: %1;").arg(DS::bad.name()));
    note->hide();
    layout->addWidget(edit, 1);
    layout->addWidget(confirm);
    layout->addWidget(note, 1);

    // Offer the organisation's people while typing.
    QPointer<QLineEdit> guard(edit);
    [](TranscriptReader& reader, QPointer<QLineEdit> e) -> QCoro::Task<> {
        const QList<PersonProfile> people = co_await reader.people();
        if (!e || people.isEmpty()) {
            co_return;
        }
        QStringList names;
        for (const PersonProfile& p : people) {
            names << p.displayName;
        }
        e->setCompleter(new QCompleter(names, e));
    }(m_reader, guard);

    auto submit = [this, speaker, edit, row] {
        name(speaker, edit->text(), row);
    };
    connect(confirm, &QPushButton::clicked, row, submit);
    connect(edit, &QLineEdit::returnPressed, row, submit);
    return row;
}

QCoro::Task<> TranscriptView::name(SpeakerRow speaker, QString identity, QWidget* row)
{
    QPointer<QWidget> guard(row);
    const QString id = m_id.value_or(QString());
    if (auto* confirm = row->findChild<QPushButton*>(QStringLiteral("confirmSpeaker"))) {
        confirm->setEnabled(false);
    }
    std::optional<QString> profile;
    const QList<PersonProfile> people = co_await m_reader.people();
    for (const PersonProfile& p : people) {
        if (p.displayName == identity.trimmed()) {
            profile = p.id;
        }
    }
    const std::optional<QString> refused =
        co_await m_reader.nameSpeaker(id, speaker, identity, profile);
    // On success the reader announces the new speakers and the rows are rebuilt.
    if (!guard || !refused) {
        co_return;
    }
    if (auto* confirm = row->findChild<QPushButton*>(QStringLiteral("confirmSpeaker"))) {
        confirm->setEnabled(true);
    }
    if (auto* note = row->findChild<QLabel*>(QStringLiteral("note"))) {
        note->setText(*refused);
        note->show();
    }
}
