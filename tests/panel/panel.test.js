// The operator's panel in a real browser against the real monitor and the local SEFAZ: one shop, one
// monitor, the cases in order (the close command ends the monitor from the page; the last case starts it
// again on the same address).
"use strict";
const { describe, before, after, test } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const { Shop, launchBrowser, until, haveChromium } = require("./shop.js");

describe("operator's panel", { skip: !haveChromium() && "chromium is not installed" }, () => {
  let shop, browser, page;
  const dialog = (name) => page.locator(`.dialog[data-name="${name}"]`);
  const authorised = (sale) => shop.query(`select corpo_nfce from nfce_gerada where cod_venda = '${sale}'`);
  const printed = () => (fs.existsSync(shop.receipt) ? fs.statSync(shop.receipt).size : 0);
  const sold = (sales) => shop.query(sales.map((sale) => `insert into VendasConclu (CodigoVenda, Data, CodClientePrazo,
    coditem, discriminacao, Quantidade, ValorUnitario, ValorTotalItem, Desconto, MEDIDA) values ('${sale}', '${shop.today}',
    '', 101, 'Arroz', 1, 27.9, 27.9, 0, 'UN');`).join(""));

  before(async () => {
    shop = await new Shop().start();
    browser = await launchBrowser();
    page = await browser.newPage({ viewport: { width: 412, height: 915 } });  // a phone's screen
    await page.goto(shop.url);
    await page.locator("#conexao", { hasText: "conectado" }).waitFor();
  });

  after(async () => {
    if (browser) await browser.close();
    if (shop) await shop.stop();
  });

  test("the token leaves the address bar and stays in the tab: a reload still shows the window live", async () => {
    assert.equal(page.url(), shop.base + "/");
    assert.equal(await page.evaluate(() => sessionStorage.getItem("quorvanti-token")), shop.token);
    await page.reload();
    await page.locator("#conexao", { hasText: "conectado" }).waitFor();
    assert.equal(page.url(), shop.base + "/");
    // The main window and the dashboard, live.
    await page.locator("#Label9", { hasText: /^V\.\d+$/ }).waitFor();
    await page.locator("#dashCertificado", { hasText: "válido até" }).waitFor();
  });

  test("a CPF typed in the dialog ends in the authorised NFC-e; a wrong check digit is refused", async () => {
    await page.click("#Check2");
    await until(() => page.isChecked("#Check2"), 5000, "CPF - NOTA armed");
    shop.queue("1001-01");
    await dialog("frm_cpfC").waitFor();
    await page.fill('input[name="Text1"]', "529.982.247-24");
    await page.press('input[name="Text1"]', "Enter");
    const refusal = page.locator(".dialog", { hasText: "CPF/CNPJ INVALIDO" });
    await refusal.waitFor();
    await refusal.getByRole("button", { name: "OK" }).click();
    await refusal.waitFor({ state: "detached" });  // read at once, though the dialog still holds the sale
    await dialog("frm_cpfC").waitFor();
    assert.equal(await page.inputValue('input[name="Text1"]'), "");
    assert.equal(authorised("1001-01"), "");

    await page.fill('input[name="Text1"]', "529.982.247-25");
    await page.getByRole("button", { name: "Confirmar (Enter)" }).click();
    const nfce = await until(() => authorised("1001-01"), 30000, "sale 1001-01 authorised");
    assert.match(nfce, /<dest><CPF>52998224725<\/CPF>/);
    await page.click("#Check2");
    await until(async () => !(await page.isChecked("#Check2")), 5000, "CPF - NOTA disarmed");
  });

  // (Queuing a dropped sale again: OperatorPanelTest.)
  test("on a phone (390×844) a dropped sale is listed with its reason and no cell breaks a word", async () => {
    await page.setViewportSize({ width: 390, height: 844 });
    shop.queue("1009-01");  // not in VendasConclu: the routine drops it and says why in LOG_NFCE.txt
    const row = page.locator("#dashDescartadas tr", { hasText: "1009-01" });
    await row.getByText("Operação não encontrada").waitFor({ timeout: 30000 });
    // A word broken across lines has its pieces on more than one line box.
    const broken = await page.evaluate(() => [...document.querySelectorAll("#loja td, #loja th")].flatMap((cell) => {
      const node = cell.firstChild;
      if (!node || node.nodeType !== Node.TEXT_NODE) return [];
      return [...node.data.matchAll(/\S+/g)].filter((word) => {
        const range = document.createRange();
        range.setStart(node, word.index);
        range.setEnd(node, word.index + word[0].length);
        return new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size > 1;
      }).map((word) => word[0]);
    }));
    assert.deepEqual(broken, []);
    assert.ok(await page.locator("#loja td").count() >= 8);
  });

  test("during a busy queue a selected access key stays selected and twenty presses on Reimprimir print twenty copies", async () => {
    await page.setViewportSize({ width: 1280, height: 800 });
    const [number, key] = shop.query("select numeronfce, chave from nfce_gerada where cod_venda = '1001-01'").split("|");
    await page.fill("#buscaTexto", number);
    await page.getByRole("button", { name: "Buscar" }).click();
    const row = page.locator(`#dashNfce tr[data-key="${key}"]`);
    const reprint = row.getByRole("button", { name: "Reimprimir" });
    const start = printed();
    await reprint.click();
    await until(() => printed() > start, 20000, "one copy");
    await new Promise((r) => setTimeout(r, 1000));
    const copy = printed() - start;
    const sales = ["1004-01", "1005-01", "1006-01", "1007-01", "1008-01"];
    sold(sales);
    shop.scenario("[call send *]\ndelay = 2000\n");
    for (const sale of sales) shop.queue(sale);
    await page.locator("#visivel", { hasText: "lote em andamento" }).waitFor({ timeout: 30000 });

    const grouped = key.replace(/(\d{4})(?=\d)/g, "$1 ");
    await row.locator("td").first().evaluate((cell, text) => {
      const range = document.createRange();
      const at = cell.firstChild.data.indexOf(text);
      range.setStart(cell.firstChild, at);
      range.setEnd(cell.firstChild, at + text.length);
      getSelection().removeAllRanges();
      getSelection().addRange(range);
    }, grouped);
    const version = await page.evaluate(() => state.version);
    await until(() => page.evaluate((v) => state.version >= v + 5, version), 30000, "five updates");
    assert.equal(await page.evaluate(() => getSelection().toString()), grouped);

    const before = printed();
    // From the top of the page, as an operator sees it at 1280×800: scrolled down, the page would move as
    // the queue below shrinks.
    await page.evaluate(() => scrollTo(0, 0));
    for (let i = 0; i < 20; ++i) {
      const box = await reprint.boundingBox();
      await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
      await page.mouse.down();
      await new Promise((r) => setTimeout(r, 120));
      await page.mouse.up();
      await new Promise((r) => setTimeout(r, 80));
    }
    assert.equal(await page.textContent("#visivel"), "(visível: lote em andamento)");
    shop.scenario("");
    await until(() => sales.every(authorised) && printed() - before >= 20 * copy, 90000, "twenty copies");
    await new Promise((r) => setTimeout(r, 1500));
    assert.equal((printed() - before) / copy, 20);
  });

  test("an NFC-e found by its number is cancelled from the page, with its justification checked first", async () => {
    const [number, key] = shop.query("select numeronfce, chave from nfce_gerada where cod_venda = '1001-01'").split("|");
    await page.fill("#buscaTexto", number);
    await page.getByRole("button", { name: "Buscar" }).click();
    const row = page.locator(`#dashNfce tr[data-key="${key}"]`);
    await row.getByText("consultada").waitFor();
    await row.getByRole("button", { name: "Cancelar" }).click();
    const box = dialog("cancelamento");
    await box.getByText(new RegExp("^Cancelar a NFC-e nº " + number + " da venda 1001-01, no valor de R\\$ \\d+,\\d\\d\\?$")).waitFor();
    await box.locator("textarea").fill("  troca feita  ");
    await box.getByRole("button", { name: "Confirmar cancelamento" }).click();
    await box.getByText("A justificativa tem 11 caracteres: a SEFAZ exige de 15 a 255.").waitFor();
    assert.equal(shop.query(`select count(*) from quorvanti_events`), "0");
    await box.locator("textarea").fill("Cliente desistiu da compra no caixa");
    await box.getByRole("button", { name: "Confirmar cancelamento" }).click();
    await row.locator("td", { hasText: /^cancelada$/ }).waitFor({ timeout: 60000 });
    await page.locator("#dashNota", { hasText: `NFC-e ${number} (venda 1001-01) cancelada: 135` }).waitFor();
    assert.ok(await row.getByRole("button", { name: "Cancelar" }).isDisabled());
  });

  // (The close button during a sale: PollCycleTest; the print switch set during one: AnswerTest.)
  test("the status check is dated in the page's one format, and the shutdown dialog ends the monitor", async () => {
    await page.locator("#visivel", { hasText: "oculta" }).waitFor({ timeout: 30000 });  // the last batch ended
    await page.dblclick("#tray");
    await dialog("frm_encerrar").getByRole("button", { name: "Status WS" }).click();
    await page.locator('.dialog[data-name="message"]', { hasText: "107 - Serviço em Operação" }).getByRole("button", { name: "OK" }).click();
    await dialog("frm_encerrar").getByRole("button", { name: "Voltar" }).click();
    // The answer's time is written as the authority's.
    await page.locator("#dashStatus", { hasText: /107 - Serviço em Operação em \d\d\/\d\d\/\d{4} \d\d:\d\d:\d\d$/ }).waitFor();

    await page.dblclick("#tray");
    await dialog("frm_encerrar").getByRole("button", { name: "Encerrar" }).click();
    assert.equal(await shop.exited, 0);
    // The page stops showing the last state: it says the monitor stopped, and the dialog no longer waits.
    await page.locator("#mancheteTexto", { hasText: /^Monitor parado desde .* status 0: encerrado normalmente$/ }).waitFor({ timeout: 5000 });
    assert.equal(await dialog("frm_encerrar").count(), 0);
    assert.equal(await page.title(), "Parado — Quorvanti");
  });

  test("the open page comes back by itself when the monitor starts again on its address", async () => {
    const first = shop.base;
    shop.sefaz.kill("SIGTERM");
    await shop.start(new URL(first).host);
    assert.equal(shop.base, first);
    await page.locator("#conexao", { hasText: "conectado" }).waitFor({ timeout: 10000 });
    await page.locator("#mancheteTexto", { hasText: /^Aguardando vendas$/ }).waitFor({ timeout: 10000 });
    assert.equal(page.url(), first + "/");
  });
});
