#include "document/groups/recipient_group.h"

#include <exception>
#include <optional>
#include <string>

#include "database/sql_escape.h"
#include "document/groups/consumer_document_dialog.h"
#include "document/groups/group_failure.h"
#include "document/groups/identification_group.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"

namespace quorvanti::document {

namespace {

// What the recipient group knows of the consumer besides the document.
struct RecipientData {
    std::string name, street, number, district, city, state, postalCode, phone, municipalityCode;
};

// The client number of the sale as SQL text; a text that is not a number fails the statement, as it
// always did.
std::string clientNumberSql(const std::string& saleClientCode) { return sqlNumber(toNumber(saleClientCode)); }

// Reads a registered client's row. A client without municipality code gets the emitter's, in the row
// too, so the repair happens once whether or not a recipient is sent.
RecipientData readClient(context::AppContext& ctx, const database::Recordset& row) {
    auto& e = ctx.emission;
    RecipientData d;
    d.postalCode = row.field("cep").text();
    if (d.postalCode.empty()) d.postalCode = ctx.emitter.PostalCode;
    d.name = row.field("Nome").text();
    d.street = row.field("Endereco").text();
    d.district = row.field("bairro").text();
    d.city = row.field("Cidade").text();
    d.state = row.field("UF").text();
    d.phone = row.field("Telefone").text();
    d.number = row.field("NumE").text();
    d.municipalityCode = row.field("CodMun").text();
    if (EstaVazio(std::string_view(d.municipalityCode))) {
        d.municipalityCode = ctx.emitter.CityCode;
        ctx.db->execute("Update clientes set CodMun = '" + database::sqlEscape(ctx.db->kind(), ctx.emitter.CityCode) +
                        "' where numero = " + clientNumberSql(e.SaleClientCode));
    }
    e.ClientCode = toNumber(e.SaleClientCode);
    return d;
}

void sendRecipient(context::AppContext& ctx, const RecipientData& d, const std::string& cnpj,
                   fiscal::FiscalComponent& component) {
    auto& e = ctx.emission;
    // Without a registered client no municipality is known. 0 claims none: the component then leaves
    // the address out and the recipient carries the document alone. The emitter's code would put the
    // consumer in the shop's town, which nobody asked.
    const std::int32_t municipality = EstaVazio(std::string_view(d.municipalityCode))
                                          ? 0
                                          : fieldInteger(leftCharacters(d.municipalityCode, 7), "CodMun do cliente");
    const auto text = [](const std::string& value) { return fitToLayout(LimpaTexto(value)); };
    ctx.settings.ComponentOk = component.recipient(
        fiscal::RecipientArgs{
            .tpImp = 4,
            .xNome = text(d.name),
            .cnpj = cnpj,
            .cpf = e.ConsumerCpf,
            .idEstrangeiro = "",
            .isuf = "",
            .im = "",
            .indIEDest = 9,
            .ie = "",
            .xLgr = text(d.street),
            .nro = text(d.number),
            .xCpl = "",
            .xBairro = text(d.district),
            .cMun = municipality,
            .xMun = text(d.city),
            .uf = toUpperText(d.state),
            .cep = d.postalCode,
            .cPais = 1058,
            .xPais = "BRASIL",
            .fone = RetiraCaracteres(d.phone, "()- ", true),
            .email = e.ConsumerEmail,
        },
        e.SharedTexts);
}

// Shows the consumer document dialog and answers what the operator confirmed.
std::string askConsumerDocument(context::AppContext& ctx) {
    ConsumerDocumentDialog dialog(ctx);
    ctx.frontend().showModal(dialog);
    ctx.doEvents();
    return ctx.emission.ConsumerDocumentInput;
}

}  // namespace

void GeraDestinatario(context::AppContext& ctx, double& clientCode, fiscal::FiscalComponent& component) {
    auto& e = ctx.emission;
    try {
        e.ConsumerCpf.clear();
        if (ctx.mainWindow.Check2.checked || clientCode != 0) {
            std::optional<database::Recordset> client;
            if (clientCode != 0) {
                client = ctx.db->open("SELECT * FROM Clientes WHERE Numero = " + clientNumberSql(e.SaleClientCode));
                if (client->recordCount() == 0) clientCode = 0;
            }

            RecipientData data;
            std::string document;
            if (clientCode == 0) {
                document = askConsumerDocument(ctx);
            } else {
                data = readClient(ctx, *client);
                document = e.ConsumerDocumentInput;
            }

            if (!document.empty()) {
                std::string cnpj;
                e.ConsumerCpf = RetiraCaracteres(document, ".-/ ", true);
                if (characterCount(e.ConsumerCpf) > 11) {
                    cnpj = e.ConsumerCpf;
                    e.ConsumerCpf.clear();
                }
                if (!EstaVazio(std::string_view(e.ConsumerCpf)) || !EstaVazio(std::string_view(cnpj)))
                    sendRecipient(ctx, data, cnpj, component);
            }
        }
        e.ClientCode = Val("0" + e.SaleClientCode);
        e.ConsumerDocumentInput.clear();
        ctx.mainWindow.visible = true;
        ctx.frontend().windowShown(windows::frmEmitirNFCe::kName, true);
    } catch (const std::exception& error) {
        reportGroupFailure(ctx, saleFailureText(ctx, std::string("destinatário: ") + error.what()),
                           "ERRO DESTINATARIO");
        e.ConsumerDocumentInput.clear();
    }
}

}  // namespace quorvanti::document
