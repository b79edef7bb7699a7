#!/bin/sh
# The monitor's main job on the embedded default, from a fresh machine: installs what it needs, builds,
# makes a demo program folder (demo/: SQLite database of a small shop, settings file, test certificate)
# and runs the monitor once over its queue, then prints what the shop's database holds afterwards.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" release

demo="$top/demo"
app="$demo/app"
rm -rf "$demo"
mkdir -p "$app" "$demo/desktop"

sqlite3 "$app/loja.db" < "$top/db/sqlite-schema.sql"
sqlite3 "$app/loja.db" < "$top/db/demo-data.sql"

# The settings the point-of-sale program shares with the monitor (Windows-1252, CR LF, as it writes them).
printf '[Geral]\r\nNTerminal=1\r\nTipoConexao_BD=access\r\nCaminho=loja.db\r\nambienteNFCE=2\r\nCSC=0123456789ABCDEF0123456789ABCDEF\r\nIDtoken=000001\r\nCertificadoSerie=DEMO\r\nImprimiNFCESistema=1\r\nFUSO=-04:00\r\n' \
    > "$app/ConfigINI.ini"

echo "== quorvanti --app-dir $app --frontend headless --once"
status=0
"$top/build/release/quorvanti" --app-dir "$app" --desktop-dir "$demo/desktop" --registry "$demo/registry.ini" \
    --frontend headless --once || status=$?
echo "== exit status: $status"
echo "== queue (TabNCEAEnviar):"
sqlite3 -header "$app/loja.db" "select ID, codvenda, enviada from TabNCEAEnviar;"
echo "== NFC-e stored (nfce_gerada):"
sqlite3 -header "$app/loja.db" "select numeronfce, cod_venda, chave from nfce_gerada;"
exit $status
