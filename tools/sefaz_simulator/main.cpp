// quorvanti-sefaz: a local stand-in for a state tax authority's NFC-e web services (layout 4.00), for
// tests, demos and shops that want to rehearse. Full description: tools/sefaz_simulator/README.md.
//
// Command line (a contract: other programs' tests start this program):
//   quorvanti-sefaz --listen HOST:PORT --state DIR [--tls CERT KEY --client-ca CA] [--scenario FILE]
//                   [--trust CA] [--schemas DIR] [--uf UF] [--environment 1|2] [--plain-texts]
//                   [--clock-tolerance MINUTES|off] [--cancel-window MINUTES] [--late-cancel] [--csc ID:CSC]
//                   [--quiet]
//   --listen HOST:PORT   address to listen on; PORT 0 picks a free port. Once listening, the first line
//                        of standard output is "listening on HOST:PORT" (the actual port), flushed;
//                        nothing else is written there.
//   --state DIR          authorised documents, events, voided ranges, receipts and sequences, kept
//                        across restarts (created when missing).
//   --tls CERT KEY       HTTPS with this certificate and key (PEM); requires --client-ca: a client
//                        without a certificate issued by CA is refused during the handshake. Without
//                        --tls: plain HTTP.
//   --scenario FILE      rules that change the answers (below); read again whenever the file changes.
//   --trust CA           PEM of the authorities a document's signer must chain to (293 otherwise);
//                        default: any certificate whose signature verifies.
//   --schemas DIR        the official schema package (nfe_v4.00.xsd ...); default: the fiscal
//                        component's own schema.
//   --uf UF              the state served, default MT (cUF of the answers; other states' documents 226).
//   --environment 1|2    1 production, 2 homologation (default); a different tpAmb is answered 252.
//   --plain-texts        standard texts without accents ("Rejeicao: ..."), as some states write them.
//   --clock-tolerance M  dhEmi more than M minutes after receipt is 703, before it 704 (normal
//                        emission); default 5, as the authority; "off": not checked.
//   --cancel-window M    a cancellation (110111) received more than M minutes after the authorisation
//                        is 501; default 30, the NFC-e's.
//   --late-cancel        past the window a cancellation is granted out of time (155), as MT does on
//                        request.
//   --csc ID:CSC         the CSC of identifier ID (repeatable): the hash of QR codes naming it is
//                        checked (464); without any, the QR code's parameters alone are.
//   --quiet              no line per request on standard error.
// Exit status: 0 stopped by SIGINT or SIGTERM; 1 could not start (state folder, TLS files, trust file,
// invalid scenario, address in use) or serving failed; 2 usage error.
//
// Services: POST to any path ending with NFeAutorizacao4, NFeRetAutorizacao4, NFeConsultaProtocolo4,
// NFeStatusServico4, NFeRecepcaoEvento4 or NFeInutilizacao4 (for example
// /nfcews/services/NFeAutorizacao4), Content-Type application/soap+xml, a SOAP 1.2 envelope with
// nfeDadosMsg in http://www.portalfiscal.inf.br/nfe/wsdl/<service>. Answers: nfeResultMsg with
// retEnviNFe, retConsReciNFe, retConsSitNFe, retConsStatServ 4.00, retEnvEvento 1.00 or retInutNFe 4.00. An unreadable
// envelope is a SOAP fault (HTTP 400); a readable envelope with a faulty message is cStat 225.
//
// Scenario file (line-based; "#" or ";" starts a comment). Each section is a rule; the first rule in
// file order that matches a call and is not used up decides it; calls are numbered from 1 per service,
// and numbers and uses start again whenever the file is read again.
//   [call SERVICE N]       the Nth call of SERVICE; also N-M, N+ (from N on) or * (every call)
//   [key KEY]              calls carrying the 44-digit KEY (a document sent, a key consulted, a receipt
//   [key KEY SERVICE]      holding it, an event's key), of any service or only of SERVICE
// SERVICE: the service's name or send|autorizacao, receipt|recibo, consult|consulta, status,
// evento|event, inutilizacao|voiding.
// Instructions (one per line):
//   status = CSTAT [TEXT]    the answer message's own cStat/xMotivo; alone it answers just that, without
//                            processing anything (no protNFe)
//   protocol = CSTAT [TEXT]  the document's protNFe answers CSTAT (checks skipped; 100 and 150 authorise,
//                            110 and 301-303 deny: both take a protocol and keep the document, so later
//                            consultations answer it); in a consultation the message answers it too;
//                            an event's retEvento answers CSTAT (135, 136, 155 register it), a voiding
//                            answers CSTAT (102 voids the range)
//   processing = N           "105 Lote em processamento" for N calls, then the next matching rule
//   times = N                the rule decides N calls at most
//   delay = MS               wait MS milliseconds before answering (the request is processed first)
//   drop                     close the connection without an answer, nothing processed
//   drop = after             process the request, then close without an answer
//   http = CODE              answer this HTTP status (e.g. 404) with an HTML page, nothing processed
// TEXT may hold {chNFe} and {nRec}; without TEXT the standard text of CSTAT is used.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "sefaz_simulator/authority.h"
#include "sefaz_simulator/command_line.h"
#include "sefaz_simulator/http_server.h"
#include "sefaz_simulator/scenario.h"
#include "sefaz_simulator/state_store.h"

namespace {

using namespace quorvanti::sefaz;

std::mutex logMutex;

void logLine(const std::string& line) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::lock_guard<std::mutex> lock(logMutex);
    std::cerr << stamp << " quorvanti-sefaz: " << line << std::endl;
}

int serve(const CommandLine& options) {
    // SIGINT and SIGTERM are taken by sigwait below, in every thread's stead; a peer that vanishes
    // mid-answer must not kill the process.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    StateStore store(options.stateFolder);
    ScenarioFile scenario(options.scenarioFile);
    AuthoritySettings settings;
    settings.uf = options.uf;
    settings.environment = options.environment;
    settings.schemaFolder = options.schemaFolder;
    settings.trustedAuthorities = options.trustedAuthorities;
    settings.plainTexts = options.plainTexts;
    settings.clockToleranceMinutes = options.clockToleranceMinutes;
    settings.cancelWindowMinutes = options.cancelWindowMinutes;
    settings.lateCancel = options.lateCancel;
    settings.cscs = options.cscs;
    Authority authority(settings, store, scenario);

    ServerSettings server;
    server.host = options.host;
    server.port = options.port;
    server.tlsCertificate = options.tlsCertificate;
    server.tlsKey = options.tlsKey;
    server.clientCa = options.clientCa;
    if (!options.quiet) server.log = logLine;
    HttpServer http(server, authority);
    const int port = http.bind();
    std::printf("listening on %s:%d\n", options.host.c_str(), port);
    std::fflush(stdout);
    logLine(std::string(options.tlsCertificate.empty() ? "HTTP" : "HTTPS") + " em " + options.host + ":" +
            std::to_string(port) + ", UF " + options.uf + ", ambiente " + std::to_string(options.environment) +
            ", estado em " + options.stateFolder);

    std::atomic<bool> finished{false};
    bool served = true;
    const pthread_t mainThread = pthread_self();
    std::thread serving([&] {
        served = http.run();
        finished = true;
        pthread_kill(mainThread, SIGTERM);  // wakes the sigwait below when serving ends by itself
    });
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    // A stop that comes before the server has started listening is lost by the library: repeat it
    // until serving has ended.
    while (!finished) {
        http.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    serving.join();
    logLine("encerrado");
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine options;
    try {
        options = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "quorvanti-sefaz: " << error.what() << "\n" << usageText();
        return 2;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    try {
        return serve(options);
    } catch (const std::exception& error) {
        std::cerr << "quorvanti-sefaz: " << error.what() << std::endl;
        return 1;
    }
}
