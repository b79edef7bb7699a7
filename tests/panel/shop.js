// A shop for the panel's browser tests, as scripts/demo.sh makes one: a program folder with its SQLite
// database, settings and test certificate, the local SEFAZ over HTTPS with client certificates, and the
// real monitor with the web frontend. Also Debian's chromium through playwright-core.
"use strict";
const { spawn, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");

const top = path.resolve(__dirname, "../..");
const bin = process.env.QUORVANTI_BUILD || path.join(top, "build/release");
const chromiumPath = process.env.QUORVANTI_CHROMIUM || "/usr/bin/chromium";
// The monitor's pauses and timers run this much faster; dates stay real.
const timeScale = process.env.QUORVANTI_TIME_SCALE || "0.1";

const certificates = path.join(os.tmpdir(), "quorvanti-panel-certs");

function sh(command, args, input) {
  return execFileSync(command, args, { input, encoding: "utf8", stdio: ["pipe", "pipe", "pipe"] });
}

// Waits for `predicate` (sync or async) to give a truthy value, polling; fails after `ms`.
async function until(predicate, ms = 20000, what = "condition") {
  const end = Date.now() + ms;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() > end) throw new Error("timed out waiting for " + what);
    await new Promise((r) => setTimeout(r, 100));
  }
}

// Starts `command` and resolves with the process and the first line of `stream` matching `pattern`.
function startAndWaitFor(command, args, options, stream, pattern, log) {
  const child = spawn(command, args, { ...options, stdio: ["ignore", "pipe", "pipe"] });
  const out = fs.createWriteStream(log);
  child.stdout.pipe(out);
  child.stderr.pipe(out);
  return new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child[stream] });
    lines.on("line", (line) => {
      const match = pattern.exec(line);
      if (match) resolve({ child, match });
    });
    child.on("exit", (code) => reject(new Error(`${command} ended (${code}) before it was ready; see ${log}`)));
  });
}

class Shop {
  constructor() {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), "quorvanti-panel-"));
    this.app = path.join(this.root, "app");
    this.desktop = path.join(this.root, "desktop");
    this.scenarioFile = path.join(this.root, "scenario.txt");
    this.receipt = path.join(this.root, "recibo.bin");  // the receipt printer, as a file
    fs.mkdirSync(this.app);
    fs.mkdirSync(this.desktop);
    fs.writeFileSync(this.scenarioFile, "");
    sh(path.join(top, "scripts/make-test-certificate.sh"), [certificates]);
    fs.mkdirSync(path.join(this.app, "certificados"), { mode: 0o700 });
    sh("install", ["-m", "600", path.join(certificates, "loja-teste.pfx"), path.join(certificates, "loja-teste.pfx.senha"),
      path.join(this.app, "certificados")]);
    const serial = sh("sh", ["-c", `openssl pkcs12 -in "$1" -passin "file:$1.senha" -nokeys 2>/dev/null | openssl x509 -noout -serial`,
      "-", path.join(certificates, "loja-teste.pfx")]).trim().replace(/^serial=/, "");
    this.db = path.join(this.app, "loja.db");
    const today = new Date().toISOString().slice(0, 10);
    sh("sqlite3", [this.db], fs.readFileSync(path.join(top, "db/sqlite-schema.sql"), "utf8") +
      fs.readFileSync(path.join(top, "db/demo-data.sql"), "utf8") + `\nupdate VendasConclu set Data = '${today}';\n`);
    this.today = today;
    fs.writeFileSync(path.join(this.app, "ConfigINI.ini"),
      "[Geral]\r\nNTerminal=1\r\nTipoConexao_BD=access\r\nCaminho=loja.db\r\nambienteNFCE=2\r\n" +
      "CSC=0123456789ABCDEF0123456789ABCDEF\r\nIDtoken=000001\r\nCertificadoSerie=" + serial +
      "\r\nImprimiNFCESistema=1\r\nFUSO=-04:00\r\nPathImpressoraNFCE=EPSON\r\nPortaBematech=file:" +
      this.receipt + "\r\n", "latin1");
  }

  // `listen`: the panel's address; a restart gives the port of the first start, so an open page finds it.
  async start(listen = "127.0.0.1:0") {
    const sefaz = await startAndWaitFor(path.join(bin, "quorvanti-sefaz"),
      ["--listen", "127.0.0.1:0", "--state", path.join(this.root, "sefaz"), "--tls", path.join(certificates, "servidor.pem"),
        path.join(certificates, "servidor.key"), "--client-ca", path.join(certificates, "ac-teste.pem"),
        "--scenario", this.scenarioFile],
      {}, "stdout", /^listening on (.*)$/, path.join(this.root, "sefaz.log"));
    this.sefaz = sefaz.child;
    const address = sefaz.match[1];
    fs.mkdirSync(path.join(this.app, "nfe"), { recursive: true });
    let ini = "[MT_2]\r\n";
    for (const service of ["NFeAutorizacao4", "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4",
      "NFeRecepcaoEvento4", "NFeInutilizacao4"])
      ini += `${service}=https://${address}/nfcews/services/${service}\r\n`;
    ini += `[TLS]\r\nCA=${path.join(certificates, "ac-teste.pem")}\r\n`;
    fs.writeFileSync(path.join(this.app, "nfe/webservices.ini"), ini);

    this.journal = path.join(this.root, this.monitor ? "monitor-restarted.log" : "monitor.log");
    const monitor = await startAndWaitFor(path.join(bin, "quorvanti"),
      ["--app-dir", this.app, "--desktop-dir", this.desktop, "--registry", path.join(this.root, "registry.ini"),
        "--frontend", "web", "--listen", listen],
      { env: { ...process.env, QUORVANTI_TIME_SCALE: timeScale } }, "stderr", /^\[painel\] (?:escutando em )?(http\S+)/,
      this.journal);
    this.monitor = monitor.child;
    this.exited = new Promise((resolve) => this.monitor.on("exit", (code) => resolve(code)));
    this.base = new URL(monitor.match[1]).origin;
    // At a restart the token is the kept one, and the journal names the address without it.
    this.token = new URL(monitor.match[1]).searchParams.get("token") || this.token;
    this.url = this.base + "/?token=" + this.token;
    return this;
  }

  scenario(text) { fs.writeFileSync(this.scenarioFile, text); }
  query(sql) { return sh("sqlite3", ["-cmd", ".timeout 10000", "-separator", "|", this.db, sql]).trim(); }
  queue(sale) {
    this.query(`insert into TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) values ('${sale}', 'enviar', '${this.today}', 'x')`);
  }

  async stop() {
    for (const child of [this.monitor, this.sefaz]) if (child && child.exitCode === null) child.kill("SIGTERM");
    if (this.monitor && this.monitor.exitCode === null) await Promise.race([this.exited, new Promise((r) => setTimeout(r, 5000))]);
    if (this.monitor && this.monitor.exitCode === null) this.monitor.kill("SIGKILL");
    if (!process.env.QUORVANTI_PANEL_KEEP) fs.rmSync(this.root, { recursive: true, force: true });
  }
}

// Debian's chromium, headless, with what keeps it from reaching for the network.
async function launchBrowser() {
  const { chromium } = require("playwright-core");
  return chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync"],
  });
}

const haveChromium = () => fs.existsSync(chromiumPath);

module.exports = { Shop, launchBrowser, until, haveChromium };
