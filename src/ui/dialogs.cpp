#include "ui/dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "format/time_zone.h"
#include "task/brand_registry.h"
#include "task/identification.h"
#include "task/program_version.h"
#include "task/task_workflow.h"
#include "ui/prompter.h"
#include "ui/ui_text.h"

namespace norvale::ui {
namespace {
const QString kErrorCaption = QStringLiteral("错误");

QDialogButtonBox* okCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// An edit with the "..." browse button beside it.
QWidget* folderRow(QDialog* dialog, Prompter& prompter, QLineEdit* edit) {
  auto* row = new QWidget(dialog);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit, 1);
  auto* browse = new QPushButton(QStringLiteral("..."), row);
  browse->setObjectName(QStringLiteral("browse"));
  browse->setFixedWidth(32);
  layout->addWidget(browse);
  QObject::connect(browse, &QPushButton::clicked, dialog, [dialog, &prompter, edit] { browseFolderInto(dialog, prompter, edit); });
  return row;
}

QLineEdit* readOnlyField(QWidget* parent, const QString& text, QColor colour) {
  auto* edit = new QLineEdit(text, parent);
  edit->setReadOnly(true);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, parent->palette().color(QPalette::Button));
  palette.setColor(QPalette::Text, colour);
  edit->setPalette(palette);
  return edit;
}

QLineEdit* sectorEdit(QWidget* parent, std::uint64_t value) {
  auto* edit = new QLineEdit(QString::number(value), parent);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  return edit;
}
}  // namespace

void browseFolderInto(QWidget* parent, Prompter& prompter, QLineEdit* edit) {
  QString folder = prompter.chooseFolder(parent, QStringLiteral("please select path"), edit->text());
  if (folder.isEmpty()) return;
  if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))) folder.chop(1);
  if (!folder.isEmpty()) edit->setText(folder);
}

// ---- CNewTaskDlg ----

CNewTaskDlg::CNewTaskDlg(Prompter& prompter, const TaskHead& head, std::uint64_t startSector, std::uint64_t sectorCount,
                         const QString& proposedFolder, QWidget* parent)
    : QDialog(parent), m_prompter(prompter), m_head(head) {
  const TaskDescription& task = head.description;
  setWindowTitle(QStringLiteral("任务"));
  setObjectName(QStringLiteral("CNewTaskDlg"));
  auto* form = new QFormLayout;
  const DeviceRecord* device = head.device;
  form->addRow(QStringLiteral("解析设备:"), readOnlyField(this, device ? qs(deviceSourceText(*device)) : QString(), QColor(0x50, 0x50, 0x50)));
  form->addRow(QStringLiteral("监控品牌:"), readOnlyField(this, qs(brandName(task.brand)), QColor(0x64, 0x64, 0x64)));
  form->addRow(QStringLiteral("解析方式:"), readOnlyField(this, qs(parseModeText(task.parseMode)), QColor(0x64, 0x64, 0x64)));
  m_folder = new QLineEdit(proposedFolder, this);
  m_folder->setObjectName(QStringLiteral("taskFolder"));
  QPalette palette = m_folder->palette();
  palette.setColor(QPalette::Text, Qt::blue);
  m_folder->setPalette(palette);
  form->addRow(QStringLiteral("任务路径:"), folderRow(this, prompter, m_folder));
  m_start = sectorEdit(this, startSector);
  m_end = sectorEdit(this, startSector + sectorCount);
  form->addRow(QStringLiteral("开始扇区:"), m_start);
  form->addRow(QStringLiteral("结束扇区:"), m_end);
  // The recorder's clock: its zone (proposed: the workstation's) and the correction to add.
  m_zone = new QLineEdit(qs(task.recorderZone.empty() ? workstationZoneName() : task.recorderZone), this);
  m_zone->setObjectName(QStringLiteral("recorderZone"));
  m_zone->setPlaceholderText(QStringLiteral("Asia/Shanghai"));
  m_correction = new QLineEdit(QString::number(task.clockCorrection), this);
  m_correction->setObjectName(QStringLiteral("clockCorrection"));
  m_correction->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[+-]?[0-9]*")), m_correction));
  form->addRow(QStringLiteral("录像机时区:"), m_zone);
  form->addRow(QStringLiteral("时钟校正(秒):"), m_correction);
  // Times outside these years are taken for noise; a recorder whose clock was reset may need
  // an earlier first year.
  m_years = new QLineEdit(qs(task.years.text()), this);
  m_years->setObjectName(QStringLiteral("yearWindow"));
  m_years->setPlaceholderText(QStringLiteral("2010-2027"));
  form->addRow(QStringLiteral("录像年份范围:"), m_years);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancel(this));
  setMinimumWidth(560);
  resize(640, sizeHint().height());
}

void CNewTaskDlg::accept() {
  const auto range = checkTaskDialog(u8(m_folder->text()), u8(m_start->text()), u8(m_end->text()));
  if (!range) {
    m_prompter.message(this, qs(range.error()), kErrorCaption);
    return;
  }
  const auto clock = checkRecorderClock(u8(m_zone->text()), u8(m_correction->text()));
  if (!clock) {
    m_prompter.message(this, qs(clock.error()), kErrorCaption);
    return;
  }
  const auto years = checkYearWindow(u8(m_years->text()));
  if (!years) {
    m_prompter.message(this, qs(years.error()), kErrorCaption);
    return;
  }
  TaskDescription& described = m_head.description;
  described.years = *years;
  // A task in the folder is replaced only when the user says so; else the dialog stays open.
  if (heldTaskFile(u8(m_folder->text())) && !m_prompter.confirm(this, qs(kOverwriteQuestion), QString())) return;
  described.recorderZone = clock->zone;
  described.clockCorrection = clock->correction;
  described.startOffset = range->startOffset;
  described.length = range->length;
  m_head.taskFolder = u8(m_folder->text());
  makeFolder(m_head.taskFolder);
  QDialog::accept();
}

// ---- CSettingDlg ----

CSettingDlg::CSettingDlg(Prompter& prompter, TaskSettings& settings, QWidget* parent)
    : QDialog(parent), m_prompter(prompter), m_settings(settings) {
  setWindowTitle(QStringLiteral("设置"));
  m_root = new QLineEdit(qs(settings.taskRoot), this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("任务路径:"), folderRow(this, prompter, m_root));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancel(this));
  resize(480, sizeHint().height());
}

void CSettingDlg::accept() {
  if (auto applied = applyTaskRoot(m_settings, u8(m_root->text())); !applied) {
    m_prompter.message(this, qs(applied.error()), kErrorCaption);
    return;
  }
  QDialog::accept();
}

// ---- CTaskInfoDlg ----

CTaskInfoDlg::CTaskInfoDlg(const TaskContext& task, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("任务信息"));
  auto* form = new QFormLayout;
  for (const auto& [label, value] : taskInformation(task)) {
    auto* edit = new QLineEdit(qs(value), this);
    edit->setReadOnly(true);
    edit->setObjectName(qs(label));
    form->addRow(qs(label), edit);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  resize(520, sizeHint().height());
}

QString CTaskInfoDlg::field(const QString& label) const {
  auto* edit = findChild<QLineEdit*>(label);
  return edit ? edit->text() : QString();
}

// ---- CLoadDlg ----

CLoadDlg::CLoadDlg(Prompter& prompter, const QString& folder, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("加载任务"));
  m_folder = new QLineEdit(folder, this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("任务:"), folderRow(this, prompter, m_folder));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancel(this));
  resize(480, sizeHint().height());
}

void CLoadDlg::accept() {
  if (m_folder->text().isEmpty()) return;
  m_chosen = m_folder->text();
  QDialog::accept();
}

// ---- CAutoVideoDlg ----

CAutoVideoDlg::CAutoVideoDlg(std::function<void()> stop, QWidget* parent) : QDialog(parent), m_stop(std::move(stop)) {
  setWindowTitle(qs(kIdentifyTitle));
  m_list = new QListWidget(this);
  m_list->setObjectName(QStringLiteral("candidates"));
  m_status = new QLabel(qs(kIdentifyRunningText), this);
  auto* header = new QLabel(qs(kIdentifyColumn), this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(header);
  layout->addWidget(m_list, 1);
  layout->addWidget(m_status);
  layout->addWidget(okCancel(this));
  resize(360, 320);
}

void CAutoVideoDlg::showCandidates(const std::vector<BrandHits>& result) {
  m_running = false;
  m_list->clear();
  for (const BrandHits& found : result) m_list->addItem(qs(brandName(found.brand)));
  m_status->setText(qs(identificationResultText(result.size())));
}

QString CAutoVideoDlg::statusText() const { return m_status->text(); }

void CAutoVideoDlg::accept() {
  if (m_running) return;
  if (m_list->count() == 0) {
    m_status->setText(qs(kIdentifyEmptyListText));
    return;
  }
  const auto selected = m_list->selectedItems();
  if (selected.isEmpty()) {
    m_status->setText(qs(kIdentifyNoSelectionText));
    return;
  }
  m_brand = numberFromListText(u8(selected.front()->text())).value_or(0);
  QDialog::accept();
}

void CAutoVideoDlg::reject() {
  // The sampling reads the dialog's list when it ends, so the dialog waits for it.
  if (m_running) {
    if (m_stop) m_stop();
    return;
  }
  QDialog::reject();
}

// ---- CExportDlg ----

CExportDlg::CExportDlg(Prompter& prompter, const QString& folder, bool overwrite, QWidget* parent, const QString& title)
    : QDialog(parent) {
  setWindowTitle(title);
  auto* group = new QGroupBox(QStringLiteral("状态"), this);
  m_skip = new QRadioButton(QStringLiteral("跳过(文件存在)"), group);
  m_overwrite = new QRadioButton(QStringLiteral("覆盖(文件存在)"), group);
  (overwrite ? m_overwrite : m_skip)->setChecked(true);
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addWidget(m_skip);
  groupLayout->addWidget(m_overwrite);
  m_folder = new QLineEdit(folder, this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("路径:"), folderRow(this, prompter, m_folder));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(form);
  layout->addWidget(okCancel(this));
  resize(480, sizeHint().height());
}

bool CExportDlg::overwrite() const { return m_overwrite->isChecked(); }

void CExportDlg::accept() {
  // Without a folder there is nowhere to write; the dialog stays open.
  if (m_folder->text().trimmed().isEmpty()) return;
  m_chosen = m_folder->text();
  QDialog::accept();
}

// ---- preview ----

QString previewAudioText(const QString& codec) {
  if (codec.isEmpty()) return QStringLiteral("无");
  // The conversion copies AAC and encodes G.711 and 16-bit PCM as AAC; other codecs stay out.
  if (codec == QStringLiteral("aac")) return codec + QStringLiteral(" (转化后的 MP4 原样保存为 AAC)");
  if (codec == QStringLiteral("pcm_alaw") || codec == QStringLiteral("pcm_mulaw") || codec == QStringLiteral("pcm_s16le"))
    return codec + QStringLiteral(" (转化后的 MP4 转为 AAC)");
  return codec + QStringLiteral(" (转化后的 MP4 不含此音频)");
}

QString previewClockText(bool clockTrack) {
  return clockTrack ? QStringLiteral("转化后的 MP4 带录像机时钟字幕 (逐秒)") : QStringLiteral("转化后的 MP4 不带录像机时钟");
}

CPreviewDlg::CPreviewDlg(const PreviewInfo& info, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("视频预览"));
  m_picture = new QLabel(this);
  m_picture->setObjectName(QStringLiteral("previewPicture"));
  m_picture->setAlignment(Qt::AlignCenter);
  if (info.picture.isNull()) {
    m_picture->setText(QStringLiteral("无法预览: ") + info.problem);
    m_picture->setMinimumSize(352, 120);
  } else {
    // Large pictures are shown at most 960 pixels wide; small ones at their own size.
    const QImage shown = info.picture.width() > 960 ? info.picture.scaledToWidth(960, Qt::SmoothTransformation) : info.picture;
    m_picture->setPixmap(QPixmap::fromImage(shown));
  }
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("通道:"), new QLabel(QString::number(info.channel), this));
  form->addRow(QStringLiteral("开始时间:"), new QLabel(info.start, this));
  form->addRow(QStringLiteral("结束时间:"), new QLabel(info.end, this));
  form->addRow(QStringLiteral("帧数:"), new QLabel(QStringLiteral("%1 (关键帧 %2)").arg(info.frames).arg(info.keyFrames), this));
  form->addRow(QStringLiteral("编码:"), new QLabel(info.codec.isEmpty() ? QStringLiteral("未知") : info.codec, this));
  const QString unknown = QStringLiteral("未知");
  form->addRow(QStringLiteral("音频:"), new QLabel(info.streamRead ? previewAudioText(info.audio) : unknown, this));
  form->addRow(QStringLiteral("时钟:"), new QLabel(info.streamRead ? previewClockText(info.clockTrack) : unknown, this));
  if (!info.picture.isNull())
    form->addRow(QStringLiteral("画面:"), new QLabel(QStringLiteral("%1 × %2").arg(info.picture.width()).arg(info.picture.height()), this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_picture);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

// ---- pictures ----

QPixmap productPicture(const QSize& size) {
  QPixmap pixmap(size);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, size.width(), size.height());
  gradient.setColorAt(0, QColor(16, 42, 84));
  gradient.setColorAt(1, QColor(0, 120, 190));
  painter.fillRect(pixmap.rect(), gradient);
  painter.setPen(QPen(QColor(255, 255, 255, 60), 2));
  for (int x = -size.height(); x < size.width(); x += 24) painter.drawLine(x, size.height(), x + size.height(), 0);
  painter.setPen(Qt::white);
  QFont title = listFont();
  title.setPointSize(size.height() / 8);
  title.setBold(true);
  painter.setFont(title);
  painter.drawText(pixmap.rect().adjusted(0, 0, 0, -size.height() / 5), Qt::AlignCenter, QStringLiteral("Norvale"));
  QFont line = listFont();
  line.setPointSize(std::max(9, size.height() / 20));
  painter.setFont(line);
  painter.drawText(pixmap.rect().adjusted(0, size.height() / 3, 0, 0), Qt::AlignCenter, QStringLiteral("监控录像恢复"));
  return pixmap;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于软件"));
  auto* picture = new QLabel(this);
  picture->setPixmap(productPicture({400, 200}));
  auto* text = new QLabel(QStringLiteral("Norvale %1").arg(QString::fromUtf8(kProgramVersion)), this);
  text->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

CSplashDlg::CSplashDlg(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::SplashScreen) {
  auto* picture = new QLabel(this);
  picture->setPixmap(productPicture({480, 240}));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(picture);
}

}  // namespace norvale::ui
