#include "app/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "options/reading_settings.h"

namespace qm {
namespace {

QCheckBox *Check(const char *text, const char *name, bool value, QWidget *parent) {
    auto *box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setChecked(value != 0);
    return box;
}

// A list index stored in the options, kept within the list (a damaged value shows the first entry).
int ListIndex(int32_t value, int count) { return value >= 0 && value < count ? value : 0; }

} // namespace

QStringList OptionsDialog::OutlinePositions() {
    return {"Insert outline to first page", "Insert outline to second page", "Insert outline to last page"};
}

OptionsDialog::OptionsDialog(const ConversionOptions &options, bool pageOptionsOnly, QWidget *parent)
    : QDialog(parent) {
    setObjectName("optionsDialog");
    setWindowTitle("Options");

    auto *parse = new QGroupBox("PDF Parse Options", this);
    parse->setObjectName("parseOptionsGroup");
    autoColumns_ = new QRadioButton("auto check column", parse);
    autoColumns_->setObjectName("autoColumns");
    autoColumns_->hide();
    singleColumn_ = new QRadioButton("Single Column", parse);
    singleColumn_->setObjectName("singleColumn");
    multiColumns_ = new QRadioButton("Multi Columns", parse);
    multiColumns_->setObjectName("multiColumns");
    columns_ = new QButtonGroup(this);
    columns_->addButton(autoColumns_, static_cast<int>(ColumnMode::AutoDetect));
    columns_->addButton(singleColumn_, static_cast<int>(ColumnMode::Single));
    columns_->addButton(multiColumns_, static_cast<int>(ColumnMode::Multi));
    if (QAbstractButton *b = columns_->button(options.columnMode))
        b->setChecked(true);
    else
        singleColumn_->setChecked(true);

    paragraphCheck_ = Check("Paragraph Check", "paragraphCheck", options.paragraphCheck, parse);
    alignCheck_ = Check("Algin Check", "alignCheck", options.alignCheck, parse);
    ignoreImages_ = Check("Ignore Image", "ignoreImages", options.ignoreImages, parse);
    ignoreVector_ = Check("Ignore Vector Graph  ", "ignoreVectorGraphics", options.ignoreVectorGraphics, parse);
    ignoreLinks_ = Check("Ignore Link", "ignoreLinks", options.ignoreLinks, parse);

    auto *parseLayout = new QVBoxLayout(parse);
    auto *columnRow = new QHBoxLayout;
    columnRow->addWidget(autoColumns_);
    columnRow->addWidget(singleColumn_);
    columnRow->addWidget(multiColumns_);
    columnRow->addStretch();
    parseLayout->addLayout(columnRow);
    auto *checkRow1 = new QHBoxLayout;
    checkRow1->addWidget(paragraphCheck_);
    checkRow1->addWidget(alignCheck_);
    checkRow1->addStretch();
    parseLayout->addLayout(checkRow1);
    auto *checkRow2 = new QHBoxLayout;
    checkRow2->addWidget(ignoreImages_);
    checkRow2->addWidget(ignoreVector_);
    checkRow2->addWidget(ignoreLinks_);
    checkRow2->addStretch();
    parseLayout->addLayout(checkRow2);

    bookmarksToToc_ = Check("Import PDF Bookmarks (If exist) into TOC", "importBookmarksToToc",
                            options.importBookmarksToToc, this);
    outputOutline_ = Check("Output Document Outline( bookmarks )", "outputOutline", options.outputOutline, this);
    outlinePosition_ = new QComboBox(this);
    outlinePosition_->setObjectName("outlinePosition");
    outlinePosition_->addItems(OutlinePositions());
    outlinePosition_->setCurrentIndex(ListIndex(options.outlinePosition, 3));

    // The e-book compression list belongs to an output this program does not make: never shown.
    mobiLabel_ = new QLabel("mobi output:", this);
    mobiLabel_->setObjectName("mobiLabel");
    mobi_ = new QComboBox(this);
    mobi_->setObjectName("mobiCompression");
    mobi_->addItems({"fast speed - max file size", "normal speed - normal file size", "slowly speed - min file size"});
    mobi_->setCurrentIndex(ListIndex(options.mobiCompression, 3));
    mobiLabel_->hide();
    mobi_->hide();

    // The reading switches; only a whole-document conversion reads them.
    auto *reading = new QGroupBox("Reading", this);
    reading->setObjectName("readingGroup");
    const ReadingOptions &r = options.reading;
    dropRunningHeads_ = Check("Leave out running heads and page numbers", "dropRunningHeads", !r.keepRunningHeads, reading);
    headings_ = Check("Make headings", "makeHeadings", r.headings, reading);
    tocFromHeadings_ = Check("Contents from headings", "tocFromHeadings", r.tocFromHeadings, reading);
    codeBlocks_ = Check("Keep code as code", "keepCode", r.codeBlocks, reading);
    linkContents_ = Check("Link printed contents pages", "linkContentsPages", !r.keepContentsPages, reading);
    epub3_ = Check("EPUB 3", "epub3", r.epub3, reading);
    auto *languageLabel = new QLabel("Book language:", reading);
    languageLabel->setObjectName("languageLabel");
    language_ = new QLineEdit(QString::fromStdString(r.language), reading);
    language_->setObjectName("bookLanguage");
    language_->setMaxLength(35);
    languageLabel->setBuddy(language_);
    auto *readingLayout = new QVBoxLayout(reading);
    auto *readingRow1 = new QHBoxLayout;
    readingRow1->addWidget(dropRunningHeads_);
    readingRow1->addWidget(codeBlocks_);
    readingRow1->addStretch();
    readingLayout->addLayout(readingRow1);
    auto *readingRow2 = new QHBoxLayout;
    readingRow2->addWidget(headings_);
    readingRow2->addWidget(tocFromHeadings_);
    readingRow2->addWidget(linkContents_);
    readingRow2->addStretch();
    readingLayout->addLayout(readingRow2);
    auto *readingRow3 = new QHBoxLayout;
    readingRow3->addWidget(languageLabel);
    readingRow3->addWidget(language_);
    readingRow3->addWidget(epub3_);
    readingRow3->addStretch();
    readingLayout->addLayout(readingRow3);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(parse);
    layout->addWidget(bookmarksToToc_);
    auto *outlineRow = new QHBoxLayout;
    outlineRow->addWidget(outputOutline_);
    outlineRow->addWidget(outlinePosition_);
    layout->addLayout(outlineRow);
    auto *mobiRow = new QHBoxLayout;
    mobiRow->addWidget(mobiLabel_);
    mobiRow->addWidget(mobi_);
    layout->addLayout(mobiRow);
    layout->addWidget(reading);
    layout->addWidget(buttons);

    if (pageOptionsOnly) {
        outlinePosition_->hide();
        outputOutline_->hide();
        ignoreLinks_->hide();
        reading->hide();
    }
    connect(outputOutline_, &QCheckBox::toggled, this, &OptionsDialog::FollowOutlineCheck);
    FollowOutlineCheck();
}

void OptionsDialog::FollowOutlineCheck() { outlinePosition_->setEnabled(outputOutline_->isChecked()); }

void OptionsDialog::StoreInto(ConversionOptions &options) const {
    options.outputOutline = outputOutline_->isChecked() ? 1 : 0;
    options.importBookmarksToToc = bookmarksToToc_->isChecked() ? 1 : 0;
    options.outlinePosition = outlinePosition_->currentIndex();
    options.mobiCompression = mobi_->currentIndex();
    options.columnMode = columns_->checkedId() >= 0 ? columns_->checkedId() : options.columnMode;
    options.ignoreImages = ignoreImages_->isChecked() ? 1 : 0;
    options.ignoreVectorGraphics = ignoreVector_->isChecked() ? 1 : 0;
    options.paragraphCheck = paragraphCheck_->isChecked() ? 1 : 0;
    options.alignCheck = alignCheck_->isChecked() ? 1 : 0;
    options.ignoreLinks = ignoreLinks_->isChecked() ? 1 : 0;
    ReadingOptions &r = options.reading;
    r.keepRunningHeads = !dropRunningHeads_->isChecked();
    r.headings = headings_->isChecked();
    r.tocFromHeadings = tocFromHeadings_->isChecked();
    r.codeBlocks = codeBlocks_->isChecked();
    r.keepContentsPages = !linkContents_->isChecked();
    r.epub3 = epub3_->isChecked();
    const std::string language = language_->text().trimmed().toStdString();
    if (ReadingSettings::IsLanguageTag(language)) r.language = language;
}

} // namespace qm
