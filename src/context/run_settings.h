// The program-wide records that start-up fills and every procedure reads: the run settings and the
// emitter company. Plain data; the context object owns one of each.
#pragma once

#include <string>

namespace quorvanti::context {

struct RunSettings {
    std::string QuoteChar;
    std::string SettingsPath;
    std::string SettingsFolder;
    std::string Terminal;
    std::string AccessDbPath;
    std::string PrintingOff;
    std::string CertificateSerial;
    std::string DbKind;           // the raw "TipoConexao_BD" value
    std::string DateQuote;
    std::string DateFormat;
    std::string DbHost;
    std::string DbName;
    std::string DbUser;
    std::string DbPassword;       // a secret: never logged or shown
    std::string ReceiptPrinter;
    std::string LogPath;
    std::string AppPath;
    std::string Series;
    std::string TimeZone;
    std::string CscId;
    std::string Csc;              // a secret: never logged or shown
    std::string ContingencyReason;
    std::string AppFolder;
    std::string DocModel;
    std::string Environment;
    std::string ComponentCertificateSerial;
    bool ComponentOk = false;
    std::string Contingency;
    int PrintServer = 0;
    std::string ContingencySender;
    std::string QueueSql;
    // [Geral] EmissaoRapida=1: the routine skips the pauses that only show a caption.
    bool FastEmission = false;
};

struct EmitterData {
    std::string TradeName;
    std::string LegalName;
    std::string Street;
    std::string Number;
    std::string District;
    std::string CityCode;
    std::string CityName;
    std::string PostalCode;
    std::string Phone;
    std::string StateRegistration;
    std::string Cnpj;
    std::string State;
};

}  // namespace quorvanti::context
