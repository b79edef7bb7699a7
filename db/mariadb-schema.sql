-- Point-of-sale tables that the NFC-e monitor reads and writes, for a MariaDB or MySQL server.
-- The point-of-sale program owns them; this file creates them in an empty database for demos and
-- tests:  mariadb base < db/mariadb-schema.sql
-- The server must run with lower_case_table_names=1: the statements spell each table in several cases.
-- nfce_gerada is created without EmailEnviou, ClienteEmail and CPF_cli and config without Optante:
-- the monitor adds those columns itself at start-up.

CREATE TABLE TabNCEAEnviar (
    ID int NOT NULL AUTO_INCREMENT PRIMARY KEY,
    codvenda varchar(30),
    enviada varchar(20),
    dataV date,
    corpoXML longtext,
    caminhoXMLcontigencia varchar(255),
    numeroNFCE varchar(20),
    DataContigencia varchar(30),
    qrcode text,
    Serv_ImpresNFCE varchar(10),
    KEY TabNCEAEnviar_codvenda (codvenda)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE VendasConclu (
    ID int NOT NULL AUTO_INCREMENT PRIMARY KEY,
    CodigoVenda varchar(30),
    Data date,
    CodClientePrazo varchar(20),
    coditem int,
    discriminacao varchar(120),
    Quantidade decimal(15,4) DEFAULT 0,
    ValorUnitario decimal(15,4) DEFAULT 0,
    ValorTotalItem decimal(15,4) DEFAULT 0,
    Desconto decimal(15,4) DEFAULT 0,
    MEDIDA varchar(6),
    fiscal varchar(10),
    KEY VendasConclu_CodigoVenda (CodigoVenda, Data)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE Estoque (
    Codigo int NOT NULL PRIMARY KEY,
    Descricao varchar(120),
    cfop varchar(4),
    cst varchar(3),
    codigofiscal varchar(10)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE Clientes (
    Numero int NOT NULL PRIMARY KEY,
    Nome varchar(60),
    Endereco varchar(60),
    NumE varchar(10),
    bairro varchar(60),
    Cidade varchar(60),
    UF varchar(2),
    cep varchar(10),
    Telefone varchar(20),
    CodMun varchar(7)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

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
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE config (
    NumeroNFCE int DEFAULT 1,
    token varchar(40),
    ValAproxTrib double DEFAULT 0,
    Serv_ImpresNFCE int DEFAULT 0
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Every value is written as quoted text; dataG as "yyyy-mm-dd".
CREATE TABLE nfce_gerada (
    ID int NOT NULL AUTO_INCREMENT PRIMARY KEY,
    dataG date,
    numeronfce varchar(20),
    cod_venda varchar(30),
    chave varchar(44),
    codcli varchar(20),
    corpo_nfce longtext,
    cancelada varchar(10),
    amb varchar(1),
    qrcode text,
    protocoloEdata varchar(80),
    KEY nfce_gerada_numeronfce (numeronfce)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
