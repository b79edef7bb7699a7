#!/bin/sh
# Makes the operator's panel a TLS key and certificate that a phone can be told to trust, in the current
# folder:
#   NAME.key      the panel's private key (EC P-256), mode 600: give it to --tls, keep it on this machine
#   NAME.crt      the panel's certificate, for NAME and each IP: give it to --tls
#   NAME-ac.crt   the one-use authority that signed it: install this on the phones (Android: as a CA
#                 certificate; iOS: as a profile, then full trust)
# The authority is self-signed and its key is destroyed once NAME.crt is signed, so trusting it on a phone
# trusts this one certificate and nothing else, even if the panel's key leaks. Both are valid for 825
# days, the longest a TLS certificate may live for Apple's systems; make new ones before then.
# With no IP, this machine's addresses (hostname -I) are named; further arguments that are not
# addresses are taken as more names.
#
# Usage: make-panel-certificate.sh NAME [IP...]
set -eu

usage() {
    echo "usage: $0 NAME [IP...]   (e.g. $0 $(hostname) 192.168.0.10)" >&2
    exit 2
}
[ $# -ge 1 ] || usage
NAME=$1
shift
case $NAME in
    ''|-*|*[!A-Za-z0-9.-]*) usage ;;
esac
if [ $# -eq 0 ]; then
    # Link-local IPv6 addresses cannot be named in a browser's address bar.
    set -- $(hostname -I 2>/dev/null | tr ' ' '\n' | grep -v -i '^fe80:' || true)
fi

SAN="DNS:$NAME"
for extra in "$@"; do
    case $extra in
        *[!0-9A-Fa-f.:]*) SAN="$SAN,DNS:$extra" ;;
        *) SAN="$SAN,IP:$extra" ;;
    esac
done

for file in "$NAME.key" "$NAME.crt" "$NAME-ac.crt"; do
    if [ -e "$file" ]; then
        echo "$file already exists: remove it first, or work in another folder" >&2
        exit 1
    fi
done

umask 077
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
DAYS=825

openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days "$DAYS" \
    -subj "/O=Quorvanti/CN=Painel Quorvanti $NAME (autoridade de uso unico)" \
    -addext "basicConstraints=critical,CA:TRUE,pathlen:0" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$WORK/ac.key" -out "$WORK/ac.crt" 2>"$WORK/log" || { cat "$WORK/log" >&2; exit 1; }

openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/O=Quorvanti/CN=$NAME" \
    -keyout "$WORK/panel.key" -out "$WORK/panel.csr" 2>"$WORK/log" || { cat "$WORK/log" >&2; exit 1; }
cat >"$WORK/ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$SAN
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF
openssl x509 -req -in "$WORK/panel.csr" -CA "$WORK/ac.crt" -CAkey "$WORK/ac.key" -CAcreateserial \
    -days "$DAYS" -sha256 -extfile "$WORK/ext" -out "$WORK/panel.crt" 2>"$WORK/log" || { cat "$WORK/log" >&2; exit 1; }

mv "$WORK/panel.key" "$NAME.key"
chmod 644 "$WORK/panel.crt" "$WORK/ac.crt"
mv "$WORK/panel.crt" "$NAME.crt"
mv "$WORK/ac.crt" "$NAME-ac.crt"
# The authority's key goes with $WORK: nothing can be signed with it again.

echo "$NAME.key, $NAME.crt: quorvanti --frontend web --listen 0.0.0.0:8443 --tls $NAME.crt $NAME.key --panel-name $NAME"
echo "$NAME-ac.crt: install on each phone; names: $SAN"
openssl x509 -in "$NAME-ac.crt" -noout -fingerprint -sha256 | sed 's/^/  /'
