-- A small shop for the demo: the emitter, the NFC-e settings row, a few products, one registered customer
-- and three finished sales of terminal 1. Loaded after the schema of the same database kind.
INSERT INTO DatEmit (CNPJ, UF, codmunicipio, CODUF, nomeJS, RazaoSocial, Endereco, numero, bairro, Municipio, cep,
                     Telefone, IE)
VALUES ('11.222.333/0001-81', 'MT', '5103403', '51', 'Mercearia Boa Vista', 'Quorvanti Loja Teste Ltda',
        'Avenida Getúlio Vargas', '1500', 'Centro Norte', 'Cuiabá', '78005-000', '(65) 3322-1100', '13.123.456-7');

INSERT INTO config (NumeroNFCE, token, ValAproxTrib, Serv_ImpresNFCE) VALUES (1, '1', 0, 0);

INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES
    (101, 'ARROZ TIPO 1 5KG', '5102', '102', '10063021'),
    (102, 'FEIJAO CARIOCA 1KG', '5102', '102', '07133399'),
    (103, 'REFRIGERANTE COLA 2L', '5405', '500', '22021000'),
    (104, 'CAFE TORRADO 500G', '', '102', '09012100');

INSERT INTO Clientes (Numero, Nome, Endereco, NumE, bairro, Cidade, UF, cep, Telefone, CodMun)
VALUES (7, 'Maria das Dores', 'Rua Barão de Melgaço', '210', 'Porto', 'Cuiabá', 'MT', '78020-000', '(65) 99999-4444',
        NULL);

INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, ValorUnitario,
                          ValorTotalItem, Desconto, MEDIDA) VALUES
    ('1001-01', '2026-12-06', '', 101, 'Arroz tipo 1 5kg', 2, 27.90, 55.80, 0, 'UN'),
    ('1001-01', '2026-12-06', '', 103, 'Refrigerante cola 2L', 1, 9.50, 9.50, 0, 'UN'),
    ('1002-01', '2026-12-06', '7', 102, 'Feijão carioca 1kg', 3, 8.99, 26.97, 1.00, 'UN'),
    ('1003-01', '2026-12-06', '', 104, 'Café torrado 500g', 1, 18.75, 18.75, 0, '');
