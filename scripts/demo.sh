#!/bin/sh
# The monitor's main job on the embedded default, from a fresh machine: installs what it needs, builds,
# makes a demo shop under demo/ (SQLite database with a few sales queued, settings file, test
# certificate), starts the local SEFAZ stand-in on loopback over HTTPS with client certificates, runs
# the monitor once over the queue (among the sales one with a discount), then once more in contingency
# mode for a sale emitted offline, and prints what the shop's database holds afterwards. The receipts
# go to files (an Epson printer on a file: port) and are printed again with --reprint in the three
# receipt families and on an A4 page; quorvanti-receipt draws each as the paper would show it
# (demo/receipts/*.png).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" release
bin="$top/build/release"

demo="$top/demo"
app="$demo/app"
rm -rf "$demo"
receipts="$demo/receipts"
mkdir -p "$app" "$demo/desktop" "$demo/sefaz" "$receipts"

# The test certification authority, the shop's A1-style certificate and the stand-in's TLS certificate.
"$top/scripts/make-test-certificate.sh" "$demo/certs" >/dev/null
install -d -m 700 "$app/certificados"
install -m 600 "$demo/certs/loja-teste.pfx" "$demo/certs/loja-teste.pfx.senha" "$app/certificados/"
serial=$(openssl pkcs12 -in "$demo/certs/loja-teste.pfx" -passin "file:$demo/certs/loja-teste.pfx.senha" -nokeys 2>/dev/null |
    openssl x509 -noout -serial | sed 's/^serial=//')

# The shop's database: the point-of-sale tables, a few finished sales, and those sales queued.
sqlite3 "$app/loja.db" < "$top/db/sqlite-schema.sql"
sqlite3 "$app/loja.db" < "$top/db/demo-data.sql"
today=$(date +%Y-%m-%d)
# Sale 1004-01 has 2,00 off its first item (the receipts show the document's vDesc and the net total);
# sale 1005-01 is the one the point-of-sale program marks for contingency (caminhoXMLcontigencia '1').
sqlite3 "$app/loja.db" "update VendasConclu set Data = '$today';
    insert into VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, ValorUnitario,
                              ValorTotalItem, Desconto, MEDIDA) values
        ('1004-01', '$today', '', 101, 'Arroz tipo 1 5kg', 1, 27.90, 27.90, 2.00, 'UN'),
        ('1004-01', '$today', '', 103, 'Refrigerante cola 2L', 2, 9.50, 19.00, 0, 'UN'),
        ('1005-01', '$today', '', 102, 'Feijão carioca 1kg', 2, 8.99, 17.98, 0, 'UN'),
        ('1005-01', '$today', '', 104, 'Café torrado 500g', 1, 18.75, 18.75, 0, '');
    insert into TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) values
        ('1001-01', 'enviar', '$today', 'x'), ('1002-01', 'enviar', '$today', 'x'), ('1003-01', 'enviar', '$today', 'x'),
        ('1004-01', 'enviar', '$today', 'x');"

# The settings the point-of-sale program shares with the monitor (Windows-1252, CR LF, as it writes them).
printf '[Geral]\r\nNTerminal=1\r\nTipoConexao_BD=access\r\nCaminho=loja.db\r\nambienteNFCE=2\r\nCSC=0123456789ABCDEF0123456789ABCDEF\r\nIDtoken=000001\r\nCertificadoSerie=%s\r\nImprimiNFCESistema=0\r\nFUSO=-04:00\r\nPathImpressoraNFCE=EPSON\r\nPortaBematech=file:%s\r\nincluioperacao=1\r\n' \
    "$serial" "$receipts/emitted.bin" > "$app/ConfigINI.ini"
# One key of the settings file rewritten in place (CR LF kept).
setting() {
    awk -v k="$1" -v v="$2" 'BEGIN { FS = "=" } $1 == k { print k "=" v "\r"; next } { print }' \
        "$app/ConfigINI.ini" > "$app/ConfigINI.tmp" && mv "$app/ConfigINI.tmp" "$app/ConfigINI.ini"
}

# The local SEFAZ on a free port of 127.0.0.1, HTTPS, client certificates of the test authority.
fifo="$demo/sefaz.out"
mkfifo "$fifo"
"$bin/quorvanti-sefaz" --listen 127.0.0.1:0 --state "$demo/sefaz" \
    --tls "$demo/certs/servidor.pem" "$demo/certs/servidor.key" --client-ca "$demo/certs/ac-teste.pem" \
    --quiet > "$fifo" &
sefaz=$!
trap 'kill $sefaz 2>/dev/null || true' EXIT INT TERM
read -r first < "$fifo"
address=${first#listening on }
echo "== quorvanti-sefaz listening on https://$address"
mkdir -p "$app/nfe"
{
    printf '[MT_2]\r\n'
    for service in NFeAutorizacao4 NFeRetAutorizacao4 NFeConsultaProtocolo4 NFeStatusServico4; do
        printf '%s=https://%s/nfcews/services/%s\r\n' "$service" "$address" "$service"
    done
    printf '[TLS]\r\nCA=%s\r\n' "$demo/certs/ac-teste.pem"
} > "$app/nfe/webservices.ini"

# The monitor on the demo's folder, with more arguments.
monitor() {
    "$bin/quorvanti" --app-dir "$app" --desktop-dir "$demo/desktop" --registry "$demo/registry.ini" "$@"
}
# One headless pass over the queue, its journal in $1; shows what it said and its exit status.
emitQueued() {
    status=0
    monitor --frontend headless --once 2> "$1" || status=$?
    grep -E '\[message\]|Sucesso|Label1\] (Rejei|Erro)' "$1" || true
    echo "== monitor exit status$2: $status (journal: $1)"
}

echo "== quorvanti --app-dir $app --frontend headless --once"
emitQueued "$demo/monitor.log" ""
emitted=$status  # the demo's own exit status

# A sale emitted in contingency: the point-of-sale program has switched to offline emission and queued
# the sale with its contingency date; the receipt says "EMITIDA EM CONTINGÊNCIA" and "Pendente de
# autorização" and goes to its own file.
setting PortaBematech "file:$receipts/contingency.bin"
printf 'Contigencia=1\r\n' >> "$app/ConfigINI.ini"
sqlite3 "$app/loja.db" "insert into TabNCEAEnviar (codvenda, enviada, dataV, corpoXML, caminhoXMLcontigencia,
        DataContigencia, Serv_ImpresNFCE) values ('1005-01', 'enviar', '$today', 'x', '1', '$today 12:00:00', '1');"
echo "== quorvanti --app-dir $app --frontend headless --once (contingency)"
emitQueued "$demo/monitor-contingency.log" " in contingency"
setting Contigencia 0
setting PortaBematech "file:$receipts/emitted.bin"
echo "== queue (TabNCEAEnviar) after the run:"
sqlite3 -header "$app/loja.db" "select ID, codvenda, enviada from TabNCEAEnviar;"
echo "== authorised NFC-e (nfce_gerada):"
sqlite3 -header "$app/loja.db" "select numeronfce, cod_venda, chave, protocoloEdata from nfce_gerada;"
echo "== next NFC-e number: $(sqlite3 "$app/loja.db" 'select NumeroNFCE from config;')"
echo "== authorised documents: $(ls "$app/nfe/arquivos/procNFe" 2>/dev/null | wc -l) file(s) in $app/nfe/arquivos/procNFe"

# The receipts: those printed during the run, then each NFC-e printed again in one of the families.
preview() {
    if [ -s "$1" ] && "$bin/quorvanti-receipt" "$1" "${1%.bin}.png" >/dev/null 2>&1; then
        echo "== receipt ${1#"$top"/} -> $(basename "${1%.bin}.png")"
    else
        echo "== receipt $1: nothing printed"
    fi
}
preview "$receipts/emitted.bin"
preview "$receipts/contingency.bin"
families="DARUMA BEMATECH EPSON"
for row in $(sqlite3 -separator : "$app/loja.db" 'select numeronfce, chave from nfce_gerada order by numeronfce;'); do
    key=${row#*:}
    family=${families%% *}
    families="${families#* } $family"
    out="$receipts/reprint-$(echo "$family" | tr 'A-Z' 'a-z')-${row%%:*}.bin"
    setting PathImpressoraNFCE "$family"
    setting PortaBematech "file:$out"
    printf '[DARUMA]\r\nPort=file:%s\r\n' "$out" > "$app/printers.ini"
    monitor --reprint "$key" 2>> "$demo/reprint.log" || echo "== reprint of $key failed (see $demo/reprint.log)"
    preview "$out"
done
# The discounted sale again on an A4 page (a printer name "file:PATH" writes the PDF there).
discounted=$(sqlite3 "$app/loja.db" "select chave from nfce_gerada where cod_venda = '1004-01';")
if [ -n "$discounted" ]; then
    setting PathImpressoraNFCE "file:$receipts/a4-discount.pdf"
    monitor --reprint "$discounted" 2>> "$demo/reprint.log" || echo "== A4 reprint of $discounted failed (see $demo/reprint.log)"
    if "$bin/quorvanti-receipt" "$receipts/a4-discount.pdf" "$receipts/a4-discount.png" >/dev/null 2>&1; then
        echo "== receipt demo/receipts/a4-discount.pdf -> a4-discount-1.png"
    else
        echo "== receipt $receipts/a4-discount.pdf: nothing printed"
    fi
fi
exit $emitted
