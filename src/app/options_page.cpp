#include "app/options_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/book_info_dialog.h"
#include "app/options_dialog.h"
#include "platform/paths.h"

namespace qm {
namespace {

constexpr int kListTextLimit = 10;

QComboBox *EditableList(const QStringList &values, const char *name, QWidget *parent) {
    auto *list = new QComboBox(parent);
    list->setObjectName(QString::fromUtf8(name));
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    list->addItems(values);
    list->lineEdit()->setMaxLength(kListTextLimit);
    return list;
}

QString Q(const std::string &s) { return QString::fromStdString(s); }
int32_t Flag(const QCheckBox *box) { return box->isChecked() ? 1 : 0; }

} // namespace

OptionsPage::OptionsPage(ConversionOptions &options, WizardRules &rules, QWidget *parent)
    : WizardPage(parent), options_(options), rules_(rules) {
    setObjectName("optionsPage");

    // ---- where the books go ----
    outputGroup_ = new QGroupBox("Output Folder", this);
    outputGroup_->setObjectName("outputGroup");
    folder_ = new QLineEdit(outputGroup_);
    folder_->setObjectName("outputFolder");
    folder_->setReadOnly(true);
    browse_ = new QPushButton("Browse", outputGroup_);
    browse_->setObjectName("browse");
    myDocuments_ = new QCheckBox("Use \"My Documents\" Folder", outputGroup_);
    myDocuments_->setObjectName("useMyDocuments");
    sameAsSource_ = new QCheckBox("Same as source", outputGroup_);
    sameAsSource_->setObjectName("sameAsSource");
    overwrite_ = new QCheckBox("Overwrite existing files", outputGroup_);
    overwrite_->setObjectName("overwriteExisting");
    auto *outLayout = new QGridLayout(outputGroup_);
    outLayout->addWidget(folder_, 0, 0, 1, 2);
    outLayout->addWidget(browse_, 0, 2);
    outLayout->addWidget(myDocuments_, 1, 0);
    outLayout->addWidget(sameAsSource_, 1, 1);
    outLayout->addWidget(overwrite_, 2, 0, 1, 2);
    outLayout->setColumnStretch(1, 1);

    // ---- how the PDFs are read ----
    optionGroup_ = new QGroupBox("Option", this);
    optionGroup_->setObjectName("optionGroup");
    automatic_ = new QRadioButton("Automatic( simple pdf )", optionGroup_);
    automatic_->setObjectName("automaticMode");
    strict_ = new QRadioButton("Strict( complicated pdf )", optionGroup_);
    strict_->setObjectName("strictMode");
    imaging_ = new QRadioButton("Imaging( layout imaged )", optionGroup_);
    imaging_->setObjectName("imagingMode");
    parseModes_ = new QButtonGroup(this);
    parseModes_->addButton(automatic_, static_cast<int>(ParseMode::Automatic));
    parseModes_->addButton(strict_, static_cast<int>(ParseMode::Strict));
    parseModes_->addButton(imaging_, static_cast<int>(ParseMode::Imaging));
    fontScale_ = EditableList({"0.5", "0.6", "0.7", "0.8", "1.0", "1.2", "1.5", "1.7", "2.0", "2.3", "2.5", "3.0"},
                              "fontScale", optionGroup_);
    imageDpi_ = EditableList({"52", "60", "72", "80", "100", "110", "150", "180", "210", "250", "280", "300"},
                             "imageDpi", optionGroup_);
    cover_ = new QCheckBox(optionGroup_);
    cover_->setObjectName("createCover");
    auto *coverLabel = new QLabel("Create Cover Image", optionGroup_);
    coverLabel->setObjectName("createCoverLabel");
    coverLabel->setBuddy(cover_);
    // The cover meta element for Kindle readers has no control of its own; it follows the cover.
    kindle_ = new QCheckBox("Compatible Kindle", optionGroup_);
    kindle_->setObjectName("compatibleKindle");
    kindle_->hide();
    password_ = new QLineEdit(optionGroup_);
    password_->setObjectName("pdfPassword");
    userPassword_ = new QLineEdit(optionGroup_);
    userPassword_->setObjectName("userPassword");
    userPassword_->hide();
    setTitle_ = new QPushButton("Set Title", optionGroup_);
    setTitle_->setObjectName("setTitle");
    more_ = new QPushButton("More...", optionGroup_);
    more_->setObjectName("more");

    auto *optLayout = new QGridLayout(optionGroup_);
    optLayout->addWidget(new QLabel("Parse mode: ", optionGroup_), 0, 0);
    auto *modes = new QVBoxLayout;
    modes->addWidget(automatic_);
    modes->addWidget(strict_);
    modes->addWidget(imaging_);
    optLayout->addLayout(modes, 0, 1, 1, 3);
    optLayout->addWidget(new QLabel("Font scale: ", optionGroup_), 1, 0);
    optLayout->addWidget(fontScale_, 1, 1);
    optLayout->addWidget(new QLabel("Image DPI: ", optionGroup_), 1, 2);
    optLayout->addWidget(imageDpi_, 1, 3);
    auto *coverRow = new QHBoxLayout;
    coverRow->addWidget(cover_);
    coverRow->addWidget(coverLabel);
    coverRow->addWidget(kindle_);
    coverRow->addStretch();
    optLayout->addLayout(coverRow, 2, 0, 1, 4);
    optLayout->addWidget(new QLabel("PDF Password:", optionGroup_), 3, 0);
    optLayout->addWidget(password_, 3, 1, 1, 3);
    optLayout->addWidget(userPassword_, 4, 1, 1, 3);
    auto *dialogRow = new QHBoxLayout;
    dialogRow->addStretch();
    dialogRow->addWidget(setTitle_);
    dialogRow->addWidget(more_);
    optLayout->addLayout(dialogRow, 5, 0, 1, 4);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(outputGroup_);
    layout->addWidget(optionGroup_);
    layout->addStretch();

    connect(sameAsSource_, &QCheckBox::toggled, this, &OptionsPage::UpdateFolderEnabling);
    connect(myDocuments_, &QCheckBox::toggled, this, &OptionsPage::OnMyDocuments);
    connect(browse_, &QPushButton::clicked, this, &OptionsPage::OnBrowse);
    connect(cover_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) kindle_->setChecked(false);
    });
    connect(kindle_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) cover_->setChecked(true);
    });
    connect(setTitle_, &QPushButton::clicked, this, &OptionsPage::OnSetTitle);
    connect(more_, &QPushButton::clicked, this, &OptionsPage::OnMore);
}

void OptionsPage::UpdateFolderEnabling() {
    const bool chosenFolder = !sameAsSource_->isChecked() && !myDocuments_->isChecked();
    browse_->setEnabled(chosenFolder);
    folder_->setEnabled(chosenFolder);
}

void OptionsPage::OnMyDocuments(bool checked) {
    UpdateFolderEnabling();
    if (checked) folder_->setText(Q(WithTrailingSlash(DocumentsFolder())));
}

void OptionsPage::OnBrowse() {
    const QString title = "Select Destination Path:";
    QString chosen = chooseFolder_ ? chooseFolder_(this, title, folder_->text())
                                   : QFileDialog::getExistingDirectory(this, title, folder_->text());
    if (chosen.isEmpty()) return;
    if (!chosen.endsWith('/')) chosen += '/';
    folder_->setText(chosen);
}

bool OptionsPage::Run(QDialog &dialog) {
    return runDialog_ ? runDialog_(dialog) : dialog.exec() == QDialog::Accepted;
}

void OptionsPage::OnSetTitle() {
    BookInfo values;
    values.title = Q(options_.bookTitle);
    values.creator = Q(options_.bookCreator);
    values.subject = Q(options_.bookSubject);
    values.author = Q(options_.bookAuthor);
    values.sameAsSource = options_.useSourceMetadata != 0;
    BookInfoDialog dialog(values, false, this);
    if (!Run(dialog)) return;
    const BookInfo edited = dialog.Values();
    options_.bookTitle = edited.title.toStdString();
    options_.bookCreator = edited.creator.toStdString();
    options_.bookSubject = edited.subject.toStdString();
    options_.bookAuthor = edited.author.toStdString();
    options_.useSourceMetadata = edited.sameAsSource ? 1 : 0;
}

void OptionsPage::OnMore() {
    OptionsDialog dialog(options_, false, this);
    if (Run(dialog)) dialog.StoreInto(options_);
}

void OptionsPage::Enter() {
    // Only the output folder matters for a book made of the user's own documents.
    optionGroup_->setVisible(options_.taskKind == static_cast<int32_t>(TaskKind::PdfToEpub));
    rules_.EnterOptionsPage();

    // Blocked while loading, so that loading the cover box does not switch the Kindle flag off.
    const QSignalBlocker blockSame(sameAsSource_), blockDocs(myDocuments_), blockCover(cover_), blockKindle(kindle_);
    folder_->setText(Q(options_.outputFolder));
    password_->setText(Q(options_.pdfPassword));
    userPassword_->setText(Q(options_.userPassword));
    fontScale_->setEditText(Q(options_.fontScaleText).left(kListTextLimit));
    imageDpi_->setEditText(Q(options_.imageDpiText).left(kListTextLimit));
    overwrite_->setChecked(options_.overwriteExisting != 0);
    sameAsSource_->setChecked(options_.sameAsSource != 0);
    myDocuments_->setChecked(options_.useMyDocuments != 0);
    cover_->setChecked(options_.createCover != 0);
    kindle_->setChecked(options_.compatibleKindle != 0);
    int mode = options_.parseMode;
    if (!parseModes_->button(mode)) mode = static_cast<int>(ParseMode::Automatic);
    parseModes_->button(mode)->setChecked(true);
    UpdateFolderEnabling();
    show();
}

void OptionsPage::Leave() {
    options_.outputFolder = folder_->text().toStdString();
    options_.pdfPassword = password_->text().toStdString();
    options_.userPassword = userPassword_->text().toStdString();
    options_.fontScaleText = fontScale_->currentText().toStdString();
    options_.imageDpiText = imageDpi_->currentText().toStdString();
    options_.overwriteExisting = Flag(overwrite_);
    options_.sameAsSource = Flag(sameAsSource_);
    options_.useMyDocuments = Flag(myDocuments_);
    options_.createCover = Flag(cover_);
    options_.compatibleKindle = Flag(kindle_);
    if (parseModes_->checkedId() >= 0) options_.parseMode = parseModes_->checkedId();
    rules_.LeaveOptionsPage();
    hide();
}

} // namespace qm
