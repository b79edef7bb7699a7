// The fiscal parameter editor `frm_ini`: the four settings that start-up requires (environment, CSC,
// certificate serial, CSC identifier), loaded from the settings file, completed from
// "configuracao.xml" where empty, and saved back.
#pragma once

#include <string>

#include "context/app_context.h"
#include "platform/ui/dialog.h"
#include "windows/dialogs.h"

namespace quorvanti::monitor {

class ParameterEditor final : public platform::Dialog {
public:
    explicit ParameterEditor(context::AppContext& ctx) : ctx_(ctx) {}

    std::string name() const override { return windows::frm_ini::kName; }
    std::string caption() const override { return model_.Label1.caption; }
    // Fills each box from its key; empty boxes get "1" (environment) or the element of configuracao.xml.
    void load() override;
    bool closed() const override { return closed_; }
    // Controls: "tx(0)" .. "tx(3)", or the key names ("CSC" ...) for convenience. Asterisks alone in the
    // CSC box are its mask, not a code: they leave the box as it was.
    void typeText(const std::string& control, const std::string& text) override;
    void click(const std::string& control) override;
    // Esc (27) closes without saving.
    void keyPress(const std::string& control, int keyAscii) override;
    // The labels, the boxes under their key names and the save button; the CSC box is shown masked: the
    // code is a secret of the shop.
    std::vector<std::pair<std::string, std::string>> controls() const override;
    // Unattended: says which settings are missing or outside their domain and how to set them, then
    // closes without saving.
    void answerUnattended(const std::function<void(const std::string&)>& say) override;

    // Saves every box to its key, shows "Gravado" and closes; an empty box, or a value outside its domain
    // (an environment other than 1 or 2, an identifier that is not digits), is named in a message and
    // nothing is saved.
    void Command1_Click();
    const windows::frm_ini& model() const { return model_; }

private:
    context::AppContext& ctx_;
    windows::frm_ini model_;
    bool closed_ = false;
};

// `retorna_tag`: the text between `openingTag` and `closingTag` in the program folder's
// "configuracao.xml", by plain text search. A missing file or tag gives "" (the editor then shows an
// empty box instead of failing to open).
std::string retorna_tag(const std::string& programFolder, const std::string& openingTag, const std::string& closingTag);

}  // namespace quorvanti::monitor
