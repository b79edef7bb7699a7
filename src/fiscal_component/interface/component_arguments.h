// The argument records of the fiscal component's operations. Each record lists its fields in the order
// in which the program's procedures pass them, so a call written with designated initialisers
// (`IdentificationArgs{.cNF = ..., .natOp = ...}`) cannot swap two of them. Names follow the NFC-e
// layout 4.00 where a field has a counterpart there; the runs of constant zeros and empty texts the
// program passes are kept as arrays of "unused" values so that a record still matches the call.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvanti::fiscal {

// The two texts passed by reference to every document call; the component may fill them, the program
// never reads them.
struct SharedTexts {
    std::string text1;
    std::string text2;
};

// Configuration (set-up of one instance).
struct ConfigurationArgs {
    std::string reserved1;              // 1 ""
    std::string certificateSerial;      // 2 serial of the signing certificate in the store
    std::string reserved3;              // 3 ""
    std::int32_t reserved4 = 0;         // 4 0
    std::string documentFolder;         // 5 program folder + "nfe/"
    std::string schemaFolder;           // 6 program folder + "nfe/schemas"
    std::string uf;                     // 7 emitter's state, "MT"
    std::int32_t model = 65;            // 8
    std::string layoutUse;              // 9 "1"
    std::string timeoutMs;              // 10 "30000": web-service time-out
    std::int32_t tpAmb = 1;             // 11 1 production, 2 homologation
    std::string tpEmis;                 // 12 "1" normal, "9" offline contingency
    std::int32_t tpImp = 4;             // 13 4 = DANFE NFC-e
    std::string cnpj;                   // 14 emitter CNPJ, digits
    std::string cscId;                  // 15 identifier of the CSC, 6 digits ("000001")
    std::string csc;                    // 16 consumer security code: a secret
    std::string softwareHouseCnpj;      // 17 masked CNPJ of the software house (18 characters)
    std::string softwareHouseName;      // 18 its descriptive name
    std::int32_t reserved19 = 0;        // 19 0
};

struct MailSettingsArgs {
    std::string host;                   // 1
    std::int32_t port = 587;            // 2
    std::int32_t timeoutMs = 30000;     // 3
    bool useTls = true;                 // 4
    std::string account;                // 5
    std::string password;               // 6 a secret
    bool authenticate = true;           // 7
    std::string replyTo;                // 8
    std::string senderName;             // 9 emitter's trade name
};

struct DanfeLogoArgs {
    std::string logoPath;               // 1 settings "LogoNFE"
    bool showLogo = true;               // 2
    std::int32_t value3 = 0;            // 3
    bool value4 = true;                 // 4
    std::int32_t value5 = 0;            // 5
    std::int32_t value6 = 3;            // 6
    std::int32_t value7 = 2;            // 7
    std::int32_t value8 = 2;            // 8
    std::string value9;                 // 9 ""
};

struct IdentificationArgs {
    std::string cNF;                    // 1 numeric code of the key, decimal text
    std::string natOp;                  // 2 "VENDA DE MERCADORIA"
    std::int32_t mod = 65;              // 3
    std::int32_t serie = 1;             // 4
    std::int32_t nNF = 0;               // 5
    std::string dhEmi;                  // 6 2026-03-05T14:07:09-04:00
    std::string dhSaiEnt;               // 7 same text; not allowed in an NFC-e, left out by the writer
    std::int32_t tpNF = 1;              // 8 1 = exit
    std::int32_t procEmi = 0;           // 9 0 = emitted by the taxpayer's application
    std::int32_t idDest = 1;            // 10 1 = internal operation
    std::int32_t cMunFG = 0;            // 11 municipality of the taxable event
    std::int32_t tpImp = 4;             // 12 4 = DANFE NFC-e
    std::int32_t tpEmis = 1;            // 13 1 normal, 9 offline contingency
    std::int32_t finNFe = 1;            // 14 1 = normal
    std::int32_t indFinal = 1;          // 15 1 = final consumer
    std::int32_t indPres = 1;           // 16 1 = buyer present
    std::string verProc;                // 17 "TAVU - 1.0.0"
    std::string dhCont;                 // 18 contingency entry time ("" outside contingency)
    std::string xJust;                  // 19 contingency justification
    std::int32_t indIntermed = 0;       // 20 0 = no intermediary
};

struct EmitterArgs {
    std::string xFant;                  // 1 trade name
    std::string xNome;                  // 2 legal name
    std::string cnpj;                   // 3
    std::string cpf;                    // 4 ""
    std::string ie;                     // 5 state registration
    std::string iest;                   // 6 ""
    std::string im;                     // 7 ""
    std::string cnae;                   // 8 ""
    std::int32_t crt = 1;               // 9 1 = Simples Nacional
    std::string xLgr;                   // 10
    std::string nro;                    // 11
    std::string xCpl;                   // 12 ""
    std::string xBairro;                // 13
    std::int32_t cMun = 0;              // 14
    std::string xMun;                   // 15
    std::string uf;                     // 16
    std::string cep;                    // 17
    std::int32_t cPais = 1058;          // 18
    std::string xPais;                  // 19 "BRASIL"
    std::string fone;                   // 20
};

struct RecipientArgs {
    std::int32_t tpImp = 4;             // 1 4 = NFC-e recipient rules
    std::string xNome;                  // 2
    std::string cnpj;                   // 3
    std::string cpf;                    // 4
    std::string idEstrangeiro;          // 5 ""
    std::string isuf;                   // 6 ""
    std::string im;                     // 7 ""
    std::int32_t indIEDest = 9;         // 8 9 = not a state taxpayer
    std::string ie;                     // 9 ""
    std::string xLgr;                   // 10
    std::string nro;                    // 11
    std::string xCpl;                   // 12 ""
    std::string xBairro;                // 13
    std::int32_t cMun = 0;              // 14
    std::string xMun;                   // 15
    std::string uf;                     // 16
    std::string cep;                    // 17
    std::int32_t cPais = 1058;          // 18
    std::string xPais;                  // 19
    std::string fone;                   // 20
    std::string email;                  // 21
};

struct ItemProductArgs {
    std::int32_t nItem = 0;             // 1
    std::string cProd;                  // 2
    std::string xProd;                  // 3
    std::string ncm;                    // 4
    std::string nve;                    // 5 ""
    std::string cest;                   // 6 ""
    std::string cEAN;                   // 7 "SEM GTIN"
    std::string cEANTrib;               // 8 "SEM GTIN"
    std::int32_t cfop = 0;              // 9
    double qCom = 0;                    // 10
    double vUnCom = 0;                  // 11
    std::string uCom;                   // 12
    double qTrib = 0;                   // 13
    double vUnTrib = 0;                 // 14
    std::string uTrib;                  // 15
    double vProd = 0;                   // 16 gross value
    std::int32_t vFrete = 0;            // 17 0
    std::int32_t vSeg = 0;              // 18 0
    double vDesc = 0;                   // 19
    std::int32_t vOutro = 0;            // 20 0
    std::array<std::int32_t, 3> unused21to23{};    // 21-23 0
    std::array<std::string, 2> unused24to25{};     // 24-25 ""
    std::int32_t unused26 = 0;                     // 26 0
    std::array<std::string, 5> unused27to31{};     // 27-31 ""
    std::int32_t indTot = 1;            // 32 1 = counts in the total
    std::string unused33;               // 33 ""
};

struct ItemIcmsArgs {
    double value1 = 0;                  // 1 0
    std::string orig;                   // 2 "0" = national
    std::string csosn;                  // 3 "102" or "500"
    std::int32_t modBC = 3;             // 4 3 = value of the operation
    std::array<std::int32_t, 58> unused5to62{};    // 5-62 0
};

struct ItemOtherTaxesArgs {
    std::string pisCst;                             // "99"
    std::array<std::int32_t, 10> pisValues{};       // ten 0
    std::string cofinsCst;                          // "99"
    std::array<std::int32_t, 10> cofinsValues{};    // ten 0
    std::string ipiCst;                             // "53"
    std::array<std::int32_t, 10> ipiValues{};       // ten 0
    std::string ipiCEnq;                            // "999"
    std::array<std::string, 3> unusedTexts{};       // "", "", ""
    std::int32_t unusedLast = 0;                    // 0
};

struct TotalsArgs {
    double vBC = 0;                     // 1
    double vICMS = 0;                   // 2
    double vBCST = 0;                   // 3
    double vST = 0;                     // 4
    double vCOFINS = 0;                 // 5
    double vPIS = 0;                    // 6
    double vIPI = 0;                    // 7
    double vDesc = 0;                   // 8
    double vSeg = 0;                    // 9
    double vFrete = 0;                  // 10
    double vOutro = 0;                  // 11
    std::array<std::int32_t, 14> unused12to25{};   // 12-25 0
    double vII = 0;                     // 26
    std::array<std::int32_t, 2> unused27to28{};    // 27-28 0
    double vProd = 0;                   // 29 products value
    double vNF = 0;                     // 30 invoice value
    double vTotTrib = 0;                // 31 0
    std::int32_t unused32 = 0;          // 32 0
    std::string unused33;               // 33 ""
    std::array<std::int32_t, 20> unused34to53{};   // 34-53 0
};

struct TransportArgs {
    std::int32_t modFrete = 9;          // 9 = no transport
    std::int32_t value2 = 0;
    std::array<std::string, 3> texts3to5{};
    std::array<std::int32_t, 4> values6to9{};
    std::array<std::string, 10> texts10to19{};
};

struct PaymentArgs {
    std::int32_t indPag = 0;            // 0 = at sight
    std::int32_t tPag = 1;              // 1 = money
    double vPag = 0;                    // the whole invoice value
    std::array<std::int32_t, 4> values4to7{};
    std::array<std::string, 3> texts8to10{};
};

// Generation: writes the unsigned and the signed file and answers the key.
struct GenerationArgs {
    std::string generatedXmlPath;       // in/out: where the unsigned file went
    std::int32_t value3 = 0;            // 0
    std::string signedXmlPath;          // in/out: where the signed file went
};

struct SendArgs {
    std::int32_t nNF = 0;               // NFC-e number (the batch identifier)
    std::int32_t indSinc = 1;           // 1 = synchronous
    std::int32_t compress = 0;          // 0
    std::string signedXmlPath;          // the signed file to send; "" = the one this instance generated
};

struct ValidationArgs {
    std::string signedXmlPath;
    std::int32_t value2 = 0;            // 0
};

// What the authority answered to a send.
struct SendResult {
    std::int32_t cStat = 0;
    std::string xMotivo;
    std::string dhRecbto;
    std::int32_t protocolCStat = 0;
    std::string protocolXMotivo;
    std::string nProt;
    std::string protocolDhRecbto;
};

// An event the authority holds for a key, as a consultation by key reports it (procEventoNFe).
struct RegisteredEvent {
    std::int32_t tpEvento = 0;          // 110111 cancellation, 110112 cancellation by substitution
    std::int32_t nSeqEvento = 1;
    std::int32_t cStat = 0;             // of its retEvento: 135, 136, 155
    std::string nProt;                  // the event's protocol
    std::string dhRegEvento;
    std::string chNFeRef{};             // 110112: the substitute's key
};

// What the authority answered to a consultation by key.
struct ConsultationResult {
    std::int32_t cStat = 0;
    std::string xMotivo;
    std::int32_t protocolCStat = 0;
    std::string protocolXMotivo;
    std::string nProt;
    std::string protocolDhRecbto;
    // Why the authorised document (procNFe) could not be stored; empty when it was or when there was
    // nothing to store. (Its initialiser spares the lists of the six fields above a missing-field warning.)
    std::string storeFailure{};
    // The events the answer reports for the key (cStat 101 or 135 and a cancellation among them when
    // the NFC-e is cancelled); each is also stored as its procEventoNFe file.
    std::vector<RegisteredEvent> events{};
};

struct ServiceStatusResult {
    std::int32_t cStat = 0;
    std::string xMotivo;
};

// A fiscal event on an authorised NFC-e of this emitter (envEvento 1.00 with one evento), signed with
// the configured certificate. The state (cOrgao), environment and CNPJ are the configuration's.
struct EventArgs {
    std::string accessKey;              // the NFC-e's 44 digits
    std::int32_t tpEvento = 110111;     // 110111 cancellation, 110112 cancellation by substitution
    std::int32_t nSeqEvento = 1;
    std::string nProt;                  // the NFC-e's authorisation protocol
    std::string xJust;                  // 15 to 255 characters
    std::string chNFeRef;               // 110112: the key of the substitute NFC-e
    std::string dhEvento;               // "yyyy-mm-ddThh:mm:ss-03:00"; "" = now in the shop's zone
    std::int64_t idLote = 1;
};

// What the authority answered to an event (retEnvEvento and its retEvento).
struct EventResult {
    std::int32_t cStat = 0;             // of the batch: 128, another rejection, or a failure above 8999
    std::string xMotivo;
    std::int32_t eventCStat = 0;        // of the event: 135, 136, 155, 573, 501 ...; 0 when none came
    std::string eventXMotivo;
    std::string nProt;                  // the event's protocol (135, 136, 155)
    std::string dhRegEvento;
    std::string storedPath;             // the procEventoNFe written for a registered event
    std::string storeFailure;           // why it could not be written ("" when written or nothing to write)
};

// Voiding (inutilização) of a range of this emitter's NFC-e numbers (inutNFe 4.00, model 65).
struct VoidingArgs {
    std::int32_t series = 1;
    std::int64_t fromNumber = 0;        // nNFIni
    std::int64_t toNumber = 0;          // nNFFin; at most 10 000 numbers in a range
    std::int32_t year = 0;              // ano, two digits (the year the numbers belong to)
    std::string xJust;                  // 15 to 255 characters
};

struct VoidingResult {
    std::int32_t cStat = 0;             // 102, 241, 256, 563 ..., or a failure above 8999
    std::string xMotivo;
    std::string nProt;                  // 102 and 563: the voiding's protocol
    std::string dhRecbto;
    std::string storedPath;             // the procInutNFe written for 102 or 563
    std::string storeFailure;
};

// The five texts the certificate selector tells of the chosen certificate, in slot order.
struct CertificateProperties {
    std::string holderName;             // 1 shown
    std::string issuerName;             // 2
    std::string serialNumber;           // 3 kept as the certificate serial
    std::string validFrom;              // 4
    std::string validUntil;             // 5 shown
};

}  // namespace quorvanti::fiscal
