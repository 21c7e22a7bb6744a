// The window's page: the AI endpoint card, the two options, the action bar and the log.

#include "app/ContentView.h"

#include "ai/AIConfig.h"
#include "ai/RequestSlots.h"
#include "app/CompactSwitch.h"
#include "app/Theme.h"
#include "app/Widgets.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString kPrefilterOn = QStringLiteral("本机视觉模型预先处理，可加快处理速度。");
const QString kPrefilterOff = QStringLiteral("每张图片都发送给 AI 处理，速度较慢。");
const QString kPostprocessText = QStringLiteral("用本机视觉模型对整理结果做精细微调。");

QString prominentStyle() {
    return QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 6px;"
                          " padding: 5px 14px; font-weight: 600; }"
                          "QPushButton:hover { background: %2; }"
                          "QPushButton:pressed { background: %3; }"
                          "QPushButton:disabled { background: %4; color: %5; }")
        .arg(Theme::accent.name(), Theme::accent.lighter(112).name(), Theme::accent.darker(115).name(),
             Theme::cardBorder.name(), Theme::muted.name());
}

/// A field row of the AI card: the label in its fixed 118-point column, then the field.
QLineEdit* fieldRow(QVBoxLayout* rows, const QString& label, bool secure, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(14, 7, 14, 7);
    row->setSpacing(0);
    auto* caption = themedLabel(label, Theme::label, 12.5, parent, QFont::Medium);
    caption->setFixedWidth(118);
    row->addWidget(caption);
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(label);
    field->setFont(secure ? uiFont(12.5) : monoFont(12));
    if (secure) field->setEchoMode(QLineEdit::Password);
    field->setStyleSheet(
        QStringLiteral("QLineEdit { background: white; border: 1px solid %1; border-radius: 5px;"
                       " padding: 3px 6px; }"
                       "QLineEdit:focus { border-color: %2; }")
            .arg(Theme::cardBorder.name(), Theme::accent.name()));
    row->addWidget(field, 1);
    rows->addLayout(row);
    return field;
}

/// An option of the second card: the switch, its title and the explanation below.
QWidget* optionControl(CompactSwitch* toggle, const QString& title, QLabel*& explanation, QWidget* parent) {
    auto* option = new QWidget(parent);
    auto* layout = new QHBoxLayout(option);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(10);
    toggle->setParent(option);
    toggle->setFixedSize(26, 19); // the track centred on the title's line
    layout->addWidget(toggle, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(themedLabel(title, Theme::label, 12.5, option, QFont::DemiBold));
    auto* text = new ElidedLabel(Qt::ElideRight, option);
    text->setFont(uiFont(11));
    text->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::muted.name()));
    texts->addWidget(text);
    explanation = text;
    layout->addLayout(texts, 1);
    // A click anywhere on the option flips it, as on the switch itself.
    option->setCursor(Qt::PointingHandCursor);
    return option;
}

void setExplanation(QLabel* label, const QString& text) {
    static_cast<ElidedLabel*>(label)->setFullText(text);
}

} // namespace

void ContentView::buildLayout() {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::window);
    palette.setColor(QPalette::Highlight, Theme::accent);
    setPalette(palette);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(26, 18, 26, 16);
    page->setSpacing(0);
    buildEndpointCard(page);
    buildOptionsCard(page);
    buildActionBar(page);
    buildLogPanel(page);
}

/// The AI endpoint.
void ContentView::buildEndpointCard(QVBoxLayout* page) {
    page->addWidget(new SectionTitle(QStringLiteral("AI接口（OpenAI兼容）"), this));
    page->addSpacing(7);
    auto* aiCard = new Card(Theme::card, this);
    auto* rows = new QVBoxLayout(aiCard);
    rows->setContentsMargins(0, 3, 0, 3);
    rows->setSpacing(0);
    m_baseURL = fieldRow(rows, QStringLiteral("API Base URL"), false, aiCard);
    rows->addWidget(makeSeparator(Qt::Horizontal, aiCard));
    m_apiKey = fieldRow(rows, QStringLiteral("API Key"), true, aiCard);
    rows->addWidget(makeSeparator(Qt::Horizontal, aiCard));
    m_modelID = fieldRow(rows, QStringLiteral("Model ID"), false, aiCard);
    {
        // How many requests go out at once, at the end of the model's row.
        auto* row = static_cast<QHBoxLayout*>(rows->itemAt(rows->count() - 1)->layout());
        row->addSpacing(12);
        row->addWidget(themedLabel(QStringLiteral("同时请求"), Theme::label, 12.5, aiCard, QFont::Medium));
        row->addSpacing(6);
        m_requests = new QSpinBox(aiCard);
        m_requests->setRange(ai::kFewestRequestsInFlight, ai::kMostRequestsInFlight);
        m_requests->setFont(monoFont(12));
        m_requests->setFixedWidth(56);
        m_requests->setToolTip(
            QStringLiteral("同时向模型服务发出的请求数；自建模型服务可调高，1 为逐张发送"));
        m_requests->setValue(m_config.maxRequestsInFlight());
        row->addWidget(m_requests);
        connect(m_requests, &QSpinBox::valueChanged, &m_config, &ai::AIConfig::setMaxRequestsInFlight);
    }
    rows->addWidget(makeSeparator(Qt::Horizontal, aiCard));
    {
        auto* row = new QHBoxLayout;
        row->setContentsMargins(14, 8, 14, 8);
        row->setSpacing(10);
        m_offline = new CompactSwitch(aiCard);
        row->addWidget(m_offline);
        row->addWidget(themedLabel(QStringLiteral("本机离线引擎（不上传照片）"), Theme::label, 12.5, aiCard,
                                   QFont::Medium));
        row->addStretch();
        rows->addLayout(row);
    }
    page->addWidget(aiCard);
    m_baseURL->setText(m_config.baseURL());
    m_apiKey->setText(m_config.apiKey());
    m_modelID->setText(m_config.modelID());
    connect(m_baseURL, &QLineEdit::textEdited, &m_config, &ai::AIConfig::setBaseURL);
    connect(m_apiKey, &QLineEdit::textEdited, &m_config, &ai::AIConfig::setApiKey);
    connect(m_modelID, &QLineEdit::textEdited, &m_config, &ai::AIConfig::setModelID);
    // The switch belongs to the AI settings; its default is stored at the first start.
    m_offline->setChecked(m_config.settleOfflineEngine());
    connect(m_offline, &CompactSwitch::toggled, this, [this](bool on) {
        m_config.setUseOfflineEngine(on);
        refreshControls();
    });
}

/// The two options.
void ContentView::buildOptionsCard(QVBoxLayout* page) {
    page->addSpacing(16);
    page->addWidget(new SectionTitle(QStringLiteral("整理方式"), this));
    page->addSpacing(7);
    auto* optionsCard = new Card(Theme::card, this);
    auto* options = new QHBoxLayout(optionsCard);
    options->setContentsMargins(0, 0, 0, 0);
    options->setSpacing(0);
    m_prefilter = new CompactSwitch;
    m_prefilter->setChecked(true);
    m_prefilterOption =
        optionControl(m_prefilter, QStringLiteral("Vision 预处理"), m_prefilterText, optionsCard);
    setExplanation(m_prefilterText, kPrefilterOn);
    connect(m_prefilter, &CompactSwitch::toggled, this,
            [this](bool on) { setExplanation(m_prefilterText, on ? kPrefilterOn : kPrefilterOff); });
    options->addWidget(m_prefilterOption, 1);
    options->addWidget(makeSeparator(Qt::Vertical, optionsCard));
    QLabel* postText = nullptr;
    m_postprocess = new CompactSwitch;
    m_postprocessOption =
        optionControl(m_postprocess, QStringLiteral("FeaturePrint 后处理"), postText, optionsCard);
    setExplanation(postText, kPostprocessText);
    options->addWidget(m_postprocessOption, 1);
    for (auto [option, toggle] :
         {std::pair{m_prefilterOption, m_prefilter}, std::pair{m_postprocessOption, m_postprocess}}) {
        option->setGraphicsEffect(new QGraphicsOpacityEffect(option));
        option->installEventFilter(this);
        option->setProperty("switch", QVariant::fromValue<QObject*>(toggle));
    }
    page->addWidget(optionsCard);
}

/// The action bar.
void ContentView::buildActionBar(QVBoxLayout* page) {
    page->addSpacing(14);
    auto* bar = new Card(Theme::actionBar, this);
    auto* actions = new QHBoxLayout(bar);
    actions->setContentsMargins(14, 10, 14, 10);
    actions->setSpacing(8);
    m_pick = new QPushButton(QStringLiteral("选择文件夹"), bar);
    m_pick->setStyleSheet(prominentStyle());
    m_pick->setCursor(Qt::PointingHandCursor);
    actions->addWidget(m_pick);
    actions->addSpacing(4);
    auto* folderIcon = new QLabel(bar);
    folderIcon->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(14, 14));
    actions->addWidget(folderIcon);
    m_folderLabel = new ElidedLabel(Qt::ElideMiddle, bar);
    m_folderLabel->setFont(monoFont(12));
    QPalette folderPalette = m_folderLabel->palette();
    folderPalette.setColor(QPalette::WindowText, Theme::folderText);
    m_folderLabel->setPalette(folderPalette);
    m_folderLabel->setFullText(kNoFolder);
    actions->addWidget(m_folderLabel, 1);
    m_progressText = themedLabel({}, Theme::muted, 11, bar);
    actions->addWidget(m_progressText);
    m_progress = new QProgressBar(bar);
    m_progress->setFixedWidth(120);
    m_progress->setFixedHeight(6);
    m_progress->setTextVisible(false);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                       "QProgressBar::chunk { background: %2; border-radius: 3px; }")
            .arg(Theme::cardBorder.name(), Theme::accent.name()));
    actions->addWidget(m_progress);
    m_spinner = new Spinner(bar);
    actions->addWidget(m_spinner);
    m_previewButton = new QPushButton(kPreview, bar);
    m_previewButton->setCursor(Qt::PointingHandCursor);
    actions->addWidget(m_previewButton);
    connect(m_previewButton, &QPushButton::clicked, this, &ContentView::preview);
    m_start = new QPushButton(kStart, bar);
    m_start->setStyleSheet(prominentStyle());
    m_start->setCursor(Qt::PointingHandCursor);
    m_start->setMinimumWidth(92);
    actions->addWidget(m_start);
    page->addWidget(bar);
    connect(m_pick, &QPushButton::clicked, this, &ContentView::pickFolder);
    connect(m_start, &QPushButton::clicked, this, &ContentView::start);
}

/// The log.
void ContentView::buildLogPanel(QVBoxLayout* page) {
    page->addSpacing(14);
    m_panel = new LogPanel(
        m_logModel, [this](const QString& line) { appendLog(line); }, this);
    m_panel->setBeforeCopy([this] { m_pump->flush(); });
    page->addWidget(m_panel, 1);
}

bool ContentView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (auto* toggle = qobject_cast<CompactSwitch*>(watched->property("switch").value<QObject*>())) {
            if (toggle->isEnabled()) toggle->toggle();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
