#include "app/PlanPreview.h"

#include "app/Theme.h"
#include "platform/Imaging.h"

#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QVBoxLayout>

namespace {

constexpr int kSide = 120;
const int kPathRole = Qt::UserRole + 1;

QString displayName(const std::string& name) {
    return QString::fromUtf8(name);
}

} // namespace

PhotoStrip::PhotoStrip(int row, int side, QWidget* parent) : QListWidget(parent), m_row(row) {
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setMovement(QListView::Static);
    setIconSize(QSize(side, side));
    setGridSize(QSize(side + 16, side + 28));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFixedHeight(side + 28 + 22);
}

bool PhotoStrip::readDrag(const QMimeData* data, int& row, QStringList& names) {
    if (!data || !data->hasFormat(kMimeType)) return false;
    QStringList lines = QString::fromUtf8(data->data(kMimeType)).split(QLatin1Char('\n'));
    bool ok = false;
    row = lines.isEmpty() ? -1 : lines.takeFirst().toInt(&ok);
    names = lines;
    return ok && !names.isEmpty();
}

QMimeData* PhotoStrip::mimeData(const QList<QListWidgetItem*>& items) const {
    QStringList lines{QString::number(m_row)};
    for (const QListWidgetItem* item : items)
        lines << item->data(kPathRole).toString();
    auto* data = new QMimeData;
    data->setData(kMimeType, lines.join(QLatin1Char('\n')).toUtf8());
    return data;
}

QStringList PhotoStrip::mimeTypes() const {
    return {kMimeType};
}

Qt::DropActions PhotoStrip::supportedDropActions() const {
    return Qt::MoveAction;
}

void PhotoStrip::dragEnterEvent(QDragEnterEvent* event) {
    // An enter is the first move: the same photos from another row are welcome.
    dragMoveEvent(event);
}

void PhotoStrip::dragMoveEvent(QDragMoveEvent* event) {
    int row = -1;
    QStringList names;
    if (readDrag(event->mimeData(), row, names) && row != m_row)
        event->acceptProposedAction();
    else
        event->ignore();
}

void PhotoStrip::dropEvent(QDropEvent* event) {
    int row = -1;
    QStringList names;
    if (!readDrag(event->mimeData(), row, names) || row == m_row) {
        event->ignore();
        return;
    }
    // The plan changes and both rows are filled again from it; the list itself removes nothing.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit filesDropped(row, names, m_row);
}

PlanPreview::PlanPreview(plan::Plan plan, ThumbnailCache& cache, QWidget* parent)
    : QDialog(parent), m_model(std::move(plan)), m_cache(cache), m_folder(m_model.plan().folder) {
    setWindowTitle(kTitle);
    resize(1100, 760);
    auto* layout = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    auto* sheet = new QWidget(scroll);
    auto* rows = new QVBoxLayout(sheet);
    rows->setSpacing(10);
    const auto& keys = PlanPreviewModel::fieldKeys();
    for (int row = 0; row < m_model.rowCount(); ++row) {
        Row r;
        auto* box = new QWidget(sheet);
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        r.folder = new QLabel(m_model.folderName(row), box);
        r.folder->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 14px;"));
        r.folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
        boxLayout->addWidget(r.folder);
        if (m_model.hasFields(row)) {
            auto* fields = new QHBoxLayout;
            for (int f = 0; f < 4; ++f) {
                auto* edit = new QLineEdit(m_model.field(row, PlanPreviewModel::Field(f)), box);
                edit->setPlaceholderText(keys[size_t(f)]);
                edit->setToolTip(keys[size_t(f)]);
                fields->addWidget(edit, f == PlanPreviewModel::other ? 3 : 2);
                connect(edit, &QLineEdit::textChanged, this, [this, row, f](const QString& text) {
                    m_model.setField(row, PlanPreviewModel::Field(f), text);
                });
                r.fields[size_t(f)] = edit;
            }
            boxLayout->addLayout(fields);
        }
        r.strip = new PhotoStrip(row, kSide, box);
        // Queued: the rows are filled again from the plan once the drag has ended.
        connect(
            r.strip, &PhotoStrip::filesDropped, this,
            [this](int from, const QStringList& names, int to) {
                for (const QString& name : names)
                    m_model.moveFile(from, name.toStdString(), to);
            },
            Qt::QueuedConnection);
        connect(r.strip, &QListWidget::itemDoubleClicked, this, &PlanPreview::openLarge);
        boxLayout->addWidget(r.strip);
        rows->addWidget(box);
        m_rows.push_back(r);
    }
    rows->addStretch(1);
    scroll->setWidget(sheet);
    layout->addWidget(scroll, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_start = buttons->addButton(kStart, QDialogButtonBox::AcceptRole);
    buttons->addButton(kClose, QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_start, &QPushButton::clicked, this, [this] {
        emit startRequested(m_model.plan());
        accept();
    });

    connect(&m_model, &PlanPreviewModel::folderNameChanged, this,
            [this](int row) { m_rows[size_t(row)].folder->setText(m_model.folderName(row)); });
    connect(&m_model, &PlanPreviewModel::filesChanged, this, &PlanPreview::fillStrip);
    // Thumbnails arrive faster than they need drawing: they are drawn in slices, so that a burst
    // never holds up a frame.
    m_drawTimer.setInterval(0);
    m_drawTimer.setSingleShot(true);
    connect(&m_drawTimer, &QTimer::timeout, this, &PlanPreview::drawArrived);
    connect(&m_cache, &ThumbnailCache::ready, this, [this](const QString& file) {
        m_arrived << file;
        if (!m_drawTimer.isActive()) m_drawTimer.start();
    });
    for (int row = 0; row < m_model.rowCount(); ++row)
        fillStrip(row);
}

QIcon PlanPreview::iconFor(const plan::Entry& entry) const {
    const std::filesystem::path file = m_folder / entry.file.name;
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Theme::cardBorder);
    QPainter painter(&pixmap);
    if (const auto image = m_cache.find(file); image && !image->isNull()) {
        const QImage scaled = image->scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter.drawImage((kSide - scaled.width()) / 2, (kSide - scaled.height()) / 2, scaled);
    }
    if (entry.role == QLatin1String("label")) {
        // The label card: a frame and a mark.
        painter.setPen(QPen(Theme::accent, 4));
        painter.drawRect(2, 2, kSide - 4, kSide - 4);
        painter.fillRect(QRect(0, 0, 40, 20), Theme::accent);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, 40, 20), Qt::AlignCenter, kLabelMark);
    }
    painter.end();
    return QIcon(pixmap);
}

void PlanPreview::fillStrip(int row) {
    PhotoStrip* strip = m_rows[size_t(row)].strip;
    strip->clear();
    for (const plan::Entry& entry : m_model.row(row).entries) {
        QString text = displayName(entry.file.name);
        if (!entry.companions.empty()) text += QStringLiteral(" +%1").arg(entry.companions.size());
        auto* item = new QListWidgetItem(iconFor(entry), text, strip);
        item->setData(kPathRole, displayName(entry.file.name));
        QStringList tip{displayName(entry.file.name)};
        for (const plan::File& companion : entry.companions)
            tip << displayName(companion.name);
        item->setToolTip(tip.join(QLatin1Char('\n')));
        const std::filesystem::path file = m_folder / entry.file.name;
        if (!m_cache.find(file)) m_cache.request(file, entry.file.stamp.size);
    }
}

void PlanPreview::showThumbnail(const QString& file) {
    const std::string name = QFile::encodeName(file).toStdString();
    const std::string fileName = std::filesystem::path(name).filename().native();
    const int row = m_model.rowOf(fileName);
    if (row < 0) return;
    PhotoStrip* strip = m_rows[size_t(row)].strip;
    for (int i = 0; i < strip->count(); ++i) {
        QListWidgetItem* item = strip->item(i);
        if (item->data(kPathRole).toString().toStdString() != fileName) continue;
        for (const plan::Entry& entry : m_model.row(row).entries)
            if (entry.file.name == fileName) item->setIcon(iconFor(entry));
        return;
    }
}

void PlanPreview::drawArrived() {
    QElapsedTimer slice;
    slice.start();
    qsizetype done = 0;
    while (done < m_arrived.size() && slice.elapsed() < 8)
        showThumbnail(m_arrived[done++]);
    m_arrived.remove(0, done);
    if (!m_arrived.isEmpty()) m_drawTimer.start();
}

int PlanPreview::thumbnailsShown() const {
    // Made, and drawn into its item (not waiting for the next slice).
    const QSet<QString> waiting(m_arrived.begin(), m_arrived.end());
    int shown = 0;
    for (int row = 0; row < m_model.rowCount(); ++row)
        for (const plan::Entry& entry : m_model.row(row).entries) {
            const std::filesystem::path file = m_folder / entry.file.name;
            if (waiting.contains(QFile::decodeName(file.c_str()))) continue;
            if (const auto image = m_cache.find(file); image && !image->isNull()) ++shown;
        }
    return shown;
}

void PlanPreview::openLarge(QListWidgetItem* item) {
    const std::filesystem::path file = m_folder / item->data(kPathRole).toString().toStdString();
    auto* view = new QDialog(this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowTitle(item->data(kPathRole).toString());
    auto* layout = new QVBoxLayout(view);
    auto* label = new QLabel(view);
    label->setAlignment(Qt::AlignCenter);
    QImage image;
    if (const auto source = platform::openImageSource(file))
        if (const auto bitmap = platform::thumbnail(*source, 1400))
            image = QImage(bitmap->data, bitmap->cols, bitmap->rows, int(bitmap->step), QImage::Format_RGB888)
                        .copy();
    if (image.isNull())
        label->setText(item->data(kPathRole).toString());
    else
        label->setPixmap(QPixmap::fromImage(image));
    layout->addWidget(label);
    view->show();
}
