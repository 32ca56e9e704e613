#pragma once
// A label drawn without any background, for text over a picture background.
#include <QLabel>

namespace qm {

class CTransparentStatic : public QLabel {
public:
    using QLabel::QLabel;
};

} // namespace qm
