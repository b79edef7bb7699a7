-- Point-of-sale tables that the NFC-e monitor reads and writes, for the embedded SQLite database.
-- The point-of-sale program owns them; this file creates an empty database for demos and tests:
--   sqlite3 base.db < db/sqlite-schema.sql
-- nfce_gerada is created without EmailEnviou, ClienteEmail and CPF_cli and config without Optante:
-- the monitor adds those columns itself at start-up.
-- SQLite compares table and column names without regard to case, as the statements need.

CREATE TABLE TabNCEAEnviar (
    ID integer PRIMARY KEY AUTOINCREMENT,
    codvenda varchar(30),
    enviada varchar(20),
    dataV date,
    corpoXML text,
    caminhoXMLcontigencia varchar(255),
    numeroNFCE varchar(20),
    DataContigencia varchar(30),
    qrcode text,
    Serv_ImpresNFCE varchar(10)
);

CREATE TABLE VendasConclu (
    ID integer PRIMARY KEY AUTOINCREMENT,
    CodigoVenda varchar(30),
    Data date,
    CodClientePrazo varchar(20),
    coditem integer,
    discriminacao varchar(120),
    Quantidade double DEFAULT 0,
    ValorUnitario double DEFAULT 0,
    ValorTotalItem double DEFAULT 0,
    Desconto double DEFAULT 0,
    MEDIDA varchar(6),
    fiscal varchar(10)
);
CREATE INDEX VendasConclu_CodigoVenda ON VendasConclu (CodigoVenda);

CREATE TABLE Estoque (
    Codigo integer PRIMARY KEY,
    Descricao varchar(120),
    cfop varchar(4),
    cst varchar(3),
    codigofiscal varchar(10)
);

CREATE TABLE Clientes (
    Numero integer PRIMARY KEY,
    Nome varchar(60),
    Endereco varchar(60),
    NumE varchar(10),
    bairro varchar(60),
    Cidade varchar(60),
    UF varchar(2),
    cep varchar(10),
    Telefone varchar(20),
    CodMun varchar(7)
);

CREATE TABLE DatEmit (
    CNPJ varchar(18),
    UF varchar(2),
    codmunicipio varchar(7),
    CODUF varchar(2),
    nomeJS varchar(60),
    RazaoSocial varchar(60),
    Endereco varchar(60),
    numero varchar(10),
    bairro varchar(60),
    Municipio varchar(60),
    cep varchar(10),
    Telefone varchar(20),
    IE varchar(20)
);

CREATE TABLE config (
    NumeroNFCE integer DEFAULT 1,
    token varchar(40),
    ValAproxTrib double DEFAULT 0,
    Serv_ImpresNFCE integer DEFAULT 0
);

-- dataG holds the date as text "dd/mm/yyyy", the form the Access database stored.
CREATE TABLE nfce_gerada (
    ID integer PRIMARY KEY AUTOINCREMENT,
    dataG varchar(10),
    numeronfce varchar(20),
    cod_venda varchar(30),
    chave varchar(44),
    codcli varchar(20),
    corpo_nfce text,
    cancelada varchar(10),
    amb varchar(1),
    qrcode text,
    protocoloEdata varchar(80)
);
CREATE INDEX nfce_gerada_numeronfce ON nfce_gerada (numeronfce);
