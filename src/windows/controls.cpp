#include "windows/controls.h"

#include "platform/step_stops.h"

namespace quorvanti::windows {

void setCaption(platform::Frontend& frontend, Label& label, std::string caption) {
    label.caption = std::move(caption);
    frontend.repaint(label.window, label.name, label.caption);
    platform::reachStep(label.caption);
}

void setCaption(platform::Frontend& frontend, CheckBox& box, std::string caption) {
    box.caption = std::move(caption);
    frontend.repaint(box.window, box.name, box.caption);
}

}  // namespace quorvanti::windows
