// The recipient group (`dest`) of an NFC-e: the consumer's CPF or CNPJ, typed by the operator in the
// consumer document dialog, with the address of the sale's registered client when there is one. Also
// repairs a registered client that has no municipality code.
#pragma once

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::document {

// `GeraDestinatario`: `clientCode` is the sale's client number (0 without one); it becomes 0 when
// `Clientes` does not hold it. Without a client (and with "CPF - NOTA" checked, or with an unknown
// client) it shows the consumer document dialog; the group is sent only when a document is at hand.
// Leaves EmissionState.ConsumerCpf and ClientCode for the record of the authorised NFC-e. The texts
// are fitted to the layout. A failure shows its description under "ERRO DESTINATARIO" and leaves it in
// EmissionState.GroupFailure: a consumer who asked for the document on the note never gets one without.
void GeraDestinatario(context::AppContext& ctx, double& clientCode, fiscal::FiscalComponent& component);

}  // namespace quorvanti::document
