// A sale handed to a fiscal component with the group calls the emission routine makes, for the tests
// of the real component and the benchmark.
#pragma once

// The argument records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <chrono>
#include <string>
#include <vector>

#include "fiscal_component/interface/fiscal_component.h"
#include "context/shop_clock.h"

namespace quorvanti::fiscal::testsales {

struct SaleItem {
    std::string code = "55";
    std::string description = "PAO FRANCES";
    std::string ncm = "19052090";
    int cfop = 5102;
    std::string csosn = "102";
    double quantity = 1;
    double total = 10;      // valortotalitem: net of the discount
    double discount = 0;
    std::string unit = "UN";
};

struct Sale {
    std::string cNF = "83746152";
    int number = 1234;
    int series = 1;
    std::string dhEmi;  // "" = now, as a shop at -04:00 writes it (the local authority checks the time)
    int tpEmis = 1;
    std::string dhCont;
    std::string xJust;
    std::string cpf;
    std::string cnpj;
    std::string recipientName = "MARIA DA SILVA";
    bool recipientAddress = false;
    std::vector<SaleItem> items{SaleItem{}};
    double extraPaid = 0;   // paid above the invoice value (change)
};

inline const char* kEmitterCnpj = "11222333000181";  // the test certificate's CNPJ

// Sends `sale` group by group as the program's procedures do; answers the invoice value.
inline double sendSale(FiscalComponent& component, const Sale& sale) {
    SharedTexts shared;
    const std::string dhEmi =
        sale.dhEmi.empty() ? context::shopDateTimeText(context::RunSettings{.TimeZone = "-04:00"},
                                                       std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()))
                           : sale.dhEmi;
    component.prepare(shared);
    component.identification(IdentificationArgs{.cNF = sale.cNF, .natOp = "VENDA DE MERCADORIA", .mod = 65,
                                                 .serie = sale.series, .nNF = sale.number, .dhEmi = dhEmi,
                                                 .dhSaiEnt = dhEmi, .cMunFG = 5103403, .tpEmis = sale.tpEmis,
                                                 .verProc = "TAVU - 1.0.0", .dhCont = sale.dhCont,
                                                 .xJust = sale.xJust},
                             shared);
    component.emitter(EmitterArgs{.xFant = "LOJA TESTE", .xNome = "LOJA TESTE COMERCIO LTDA", .cnpj = kEmitterCnpj,
                                  .ie = "131234567", .xLgr = "RUA DAS FLORES", .nro = "100", .xBairro = "CENTRO",
                                  .cMun = 5103403, .xMun = "CUIABA", .uf = "MT", .cep = "78005000",
                                  .xPais = "BRASIL", .fone = "6533221100"},
                      shared);
    if (!sale.cpf.empty() || !sale.cnpj.empty()) {
        RecipientArgs recipient{.xNome = sale.recipientName, .cnpj = sale.cnpj, .cpf = sale.cpf};
        if (sale.recipientAddress)
            recipient = {.xNome = sale.recipientName, .cnpj = sale.cnpj, .cpf = sale.cpf, .xLgr = "AVENIDA BRASIL",
                         .nro = "2000", .xBairro = "JARDIM", .cMun = 5103403, .xMun = "CUIABA", .uf = "MT",
                         .cep = "78000000", .xPais = "BRASIL", .fone = "65999990000"};
        component.recipient(recipient, shared);
    }
    double productsTotal = 0, discounts = 0;
    int index = 0;
    for (const SaleItem& item : sale.items) {
        ++index;
        const double divisor = item.quantity == 0 ? 1 : item.quantity;
        const double unitPrice = (item.total + item.discount) / divisor;
        productsTotal += item.quantity * unitPrice;
        discounts += item.discount;
        component.itemProduct(ItemProductArgs{.nItem = index, .cProd = item.code, .xProd = item.description,
                                              .ncm = item.ncm, .cEAN = "SEM GTIN", .cEANTrib = "SEM GTIN",
                                              .cfop = item.cfop, .qCom = item.quantity, .vUnCom = unitPrice,
                                              .uCom = item.unit, .qTrib = item.quantity, .vUnTrib = unitPrice,
                                              .uTrib = item.unit, .vProd = unitPrice * item.quantity,
                                              .vDesc = item.discount},
                              shared);
        component.itemIcms(ItemIcmsArgs{.orig = "0", .csosn = item.csosn}, shared);
        component.itemOtherTaxes(ItemOtherTaxesArgs{.pisCst = "99", .cofinsCst = "99", .ipiCst = "53",
                                                    .ipiCEnq = "999"},
                                 shared);
        component.itemClose(shared);
    }
    const double invoice = productsTotal - discounts;
    component.totals(TotalsArgs{.vDesc = discounts, .vProd = productsTotal, .vNF = invoice}, shared);
    component.transport(TransportArgs{}, shared);
    component.payment(PaymentArgs{.indPag = 0, .tPag = 1, .vPag = invoice + sale.extraPaid}, shared);
    return invoice;
}

}  // namespace quorvanti::fiscal::testsales
