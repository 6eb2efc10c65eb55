#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "common/message_box.h"

namespace tovrik::cli {

// The text with every line end of the window texts ("\r\n", or "\r" alone) turned into "\n".
std::string ToTerminalText(const std::string& text);

// The text with the value of every "PWD=" or "PASSWORD=" keyword (any case, braced or not)
// replaced by "***", and every occurrence of `password` too when it has four or more
// characters (shorter ones would blank out ordinary words).
std::string MaskSecrets(const std::string& text, const std::string& password);

// Message boxes on a terminal: "caption: text" on one stream, the text's line ends turned into
// "\n", secrets masked. `password` gives the password to mask at the time a box is shown.
class TerminalMessageBoxes final : public MessageBoxes {
public:
    TerminalMessageBoxes(std::ostream& out, std::function<std::string()> password);
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    std::ostream& out_;
    std::function<std::string()> password_;
};

}  // namespace tovrik::cli
