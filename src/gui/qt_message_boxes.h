#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "common/message_box.h"

namespace tovrik {

// Message boxes as modal QMessageBoxes with a single OK button, centred on `parent` (or on the
// screen when there is none).
class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    QPointer<QWidget> parent_;
};

// A text of the core for a Qt widget: UTF-8 decoded, carriage return + line feed (and a lone
// carriage return) turned into Qt's line feed.
QString ToDisplayText(const std::string& text);

}  // namespace tovrik
