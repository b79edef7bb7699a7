// The controls of the window models: plain fields that procedures set, as the original set the
// properties of its window controls. A caption change reaches the operator only through `setCaption`,
// which repaints the control through the frontend.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/frontend.h"

namespace quorvanti::windows {

// RGB colour as the original writes it (255 is red).
inline constexpr std::uint32_t kRed = 255;

struct Label {
    std::string window;
    std::string name;
    std::string caption;
    bool visible = true;
    std::uint32_t foreColor = 0;
};

struct CheckBox {
    std::string window;
    std::string name;
    std::string caption;
    bool checked = false;
};

struct TextBox {
    std::string window;
    std::string name;
    std::string text;
};

// A picture box: the picture is kept as the bytes of the file it was loaded from (BMP or PNG).
struct Image {
    std::string window;
    std::string name;
    std::string fileBytes;
};

struct CommandButton {
    std::string window;
    std::string name;
    std::string caption;
};

// Sets the caption and repaints the control.
void setCaption(platform::Frontend& frontend, Label& label, std::string caption);
void setCaption(platform::Frontend& frontend, CheckBox& box, std::string caption);

}  // namespace quorvanti::windows
