#include "interactive/interactive_convert_dialog.h"

#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "interactive/page_view.h"

namespace qm {

InteractiveConvertDialog::InteractiveConvertDialog(StrictSession &session, ConversionOptions &options,
                                                   QWidget *parent)
    : QDialog(parent), session_(session), options_(options),
      editor_(std::make_unique<RegionEditor>(session.Model())) {
    setWindowTitle("Interactive Convert PDF to ePub");
    auto *layout = new QVBoxLayout(this);
    view_ = new PageView(this);
    ok_ = new QPushButton("OK", this);
    layout->addWidget(view_, 1);
    layout->addWidget(ok_, 0, Qt::AlignRight);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    resize(900, 700);
    ShowPage(1);
}

InteractiveConvertDialog::~InteractiveConvertDialog() = default;

void InteractiveConvertDialog::ShowPage(int n) {
    const int count = session_.Document().PageCount();
    if (count <= 0) return;
    currentPage_ = std::clamp(n, 1, count);
    const QSize size = view_->size();
    if (session_.DrawPage(currentPage_, size.width(), size.height()) == CaptureResult::Captured)
        view_->SetModel(editor_.get(), &session_.Capture(), count);
    else
        view_->SetModel(nullptr, nullptr, count);
}

} // namespace qm
