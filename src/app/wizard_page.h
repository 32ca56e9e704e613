#pragma once
// One page of the wizard. Pages are made once and live as long as the main window; `Enter` loads
// the controls (from the options or the run) and shows the page, `Leave` stores the controls and
// hides it.
#include <QWidget>

namespace qm {

class WizardPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual void Enter() = 0;
    virtual void Leave() = 0;

protected:
    // The page's corner picture, bottom right.
    void paintEvent(QPaintEvent *event) override;
};

} // namespace qm
