#include "gui/qt_message_boxes.h"

#include <QMessageBox>

#include "gui/frm_main.h"

namespace tovrik {

QString ToDisplayText(const std::string& text) {
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

void QtMessageBoxes::Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
        case MessageIcon::None:
            boxIcon = QMessageBox::NoIcon;
            break;
        case MessageIcon::Critical:
            boxIcon = QMessageBox::Critical;
            break;
        case MessageIcon::Exclamation:
            boxIcon = QMessageBox::Warning;
            break;
    }
    QMessageBox box(boxIcon, ToDisplayText(caption), ToDisplayText(text), QMessageBox::Ok,
                    parent_.data());
    // Driver texts may contain '<' or '&'; they are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("tovrikMessageBox"));
    // A dialog does not inherit its parent window's font; it gets the window default font.
    box.setFont(GothicFont(kDefaultFontPixels));
    box.exec();
}

}  // namespace tovrik
