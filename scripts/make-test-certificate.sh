#!/bin/sh
# Makes the test certificates of the tests and the demo in OUTDIR:
#   ac-teste.pem, ac-teste.key        a test certification authority
#   loja-teste.pfx (+ .senha)         an A1-style signer (RSA 2048) carrying the CNPJ 11222333000181
#   expired/loja-vencida.pfx (+ .senha)   the same holder, valid 2020-01-01 to 2021-01-01 12:00 UTC
#   future/loja-futura.pfx (+ .senha)     the same holder, valid only from 2090-01-01 UTC
#   servidor.pem, servidor.key        a TLS server certificate for 127.0.0.1 and localhost
# Files are mode 600, folders 700, as the certificate store demands. Idempotent: when every file is
# present nothing is done. Safe to run from several processes at once (tests start in parallel): the
# work is serialised by a lock file beside OUTDIR and the finished set is renamed into place.
#
# Usage: make-test-certificate.sh OUTDIR
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
OUTDIR=${1%/}
umask 077

FILES="ac-teste.pem ac-teste.key loja-teste.pfx loja-teste.pfx.senha
expired/loja-vencida.pfx expired/loja-vencida.pfx.senha
future/loja-futura.pfx future/loja-futura.pfx.senha servidor.pem servidor.key"

complete() {
    for f in $FILES; do
        [ -s "$OUTDIR/$f" ] || return 1
    done
    return 0
}

complete && exit 0

mkdir -p "$(dirname "$OUTDIR")"
exec 9>"$OUTDIR.lock"
flock 9
complete && exit 0

WORK=$(mktemp -d "$OUTDIR.work.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

SIGNER_CN="QUORVANTI LOJA TESTE LTDA:11222333000181"
SIGNER_CNPJ=11222333000181

# A minimal "openssl ca" set-up: it is the only command of OpenSSL 3.0 that takes explicit start and end
# dates, which the expired and not-yet-valid variants need.
mkdir ca
: > ca/index.txt
cat > ca.cnf <<EOF
[ ca ]
default_ca = ac_teste

[ ac_teste ]
dir = $WORK/ca
database = \$dir/index.txt
new_certs_dir = \$dir
certificate = $WORK/ac-teste.pem
private_key = $WORK/ac-teste.key
default_md = sha256
policy = any_name
unique_subject = no
rand_serial = yes
copy_extensions = none
email_in_dn = no

[ any_name ]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = supplied

[ req ]
distinguished_name = empty_dn
prompt = no

[ empty_dn ]
CN = unused

[ ac_ext ]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash

[ signer_ext ]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment
extendedKeyUsage = clientAuth,emailProtection
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
# ICP-Brasil otherNames: 2.16.76.1.3.4 data of the responsible person, 2.16.76.1.3.2 their name,
# 2.16.76.1.3.3 the holder's CNPJ in 14 positions, each an OCTET STRING.
subjectAltName = @signer_san

[ signer_san ]
otherName.1 = 2.16.76.1.3.4;FORMAT:ASCII,OCTETSTRING:010119805299822472500000000000000000000000000000SSPMT
otherName.2 = 2.16.76.1.3.2;FORMAT:ASCII,OCTETSTRING:RESPONSAVEL TESTE
otherName.3 = 2.16.76.1.3.3;FORMAT:ASCII,OCTETSTRING:$SIGNER_CNPJ
otherName.4 = 2.16.76.1.3.7;FORMAT:ASCII,OCTETSTRING:000000000000

[ server_ext ]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
EOF

# OpenSSL's chatter goes to a log that is shown only when a step fails.
quiet() {
    "$@" 2>>"$WORK/openssl.log" || { cat "$WORK/openssl.log" >&2; exit 1; }
}

ca() {
    quiet openssl ca -config ca.cnf -batch -notext -preserveDN "$@"
}

# Exports certificate $1 with key $2 as PKCS#12 $3, with a fresh random password in $3.senha.
export_pfx() {
    openssl rand -hex 16 > "$3.senha"
    quiet openssl pkcs12 -export -in "$1" -inkey "$2" -certfile ac-teste.pem -name "$SIGNER_CN" \
        -passout "file:$3.senha" -out "$3"
}

quiet openssl req -config ca.cnf -x509 -newkey rsa:2048 -nodes -keyout ac-teste.key -sha256 -days 7300 \
    -subj "/C=BR/O=Quorvanti Testes/CN=AC QUORVANTI TESTE" -extensions ac_ext -out ac-teste.pem

SIGNER_SUBJECT="/C=BR/O=ICP-Brasil/OU=Certificado PJ A1/CN=$SIGNER_CN"
quiet openssl req -config ca.cnf -new -newkey rsa:2048 -nodes -keyout loja-teste.key -subj "$SIGNER_SUBJECT" \
    -out loja-teste.csr
ca -in loja-teste.csr -days 3650 -extensions signer_ext -out loja-teste.pem
export_pfx loja-teste.pem loja-teste.key loja-teste.pfx

mkdir expired future
ca -in loja-teste.csr -startdate 20200101000000Z -enddate 20210101120000Z -extensions signer_ext \
    -out expired/loja-vencida.pem
export_pfx expired/loja-vencida.pem loja-teste.key expired/loja-vencida.pfx
ca -in loja-teste.csr -startdate 20900101000000Z -enddate 20991231235959Z -extensions signer_ext \
    -out future/loja-futura.pem
export_pfx future/loja-futura.pem loja-teste.key future/loja-futura.pfx

quiet openssl req -config ca.cnf -new -newkey rsa:2048 -nodes -keyout servidor.key \
    -subj "/C=BR/O=Quorvanti Testes/CN=localhost" -out servidor.csr
ca -in servidor.csr -days 3650 -extensions server_ext -out servidor.pem

# Only the promised files go into OUTDIR (the signer's bare key and the CA's bookkeeping stay behind),
# each renamed into place whole, so a reader that finds every file finds them complete.
mkdir -p "$OUTDIR/expired" "$OUTDIR/future"
chmod 700 "$OUTDIR" "$OUTDIR/expired" "$OUTDIR/future"
for f in $FILES; do
    cp "$f" "$OUTDIR/$f.part"
    chmod 600 "$OUTDIR/$f.part"
    mv -f "$OUTDIR/$f.part" "$OUTDIR/$f"
done
