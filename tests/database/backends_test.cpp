// The statements of the monitor run unchanged on both backends: the same test body on a real SQLite
// file and on a fresh database of the private MariaDB server.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "authorisation/emission_routine.h"
#include "database/date_literal.h"
#include "database/db_error.h"
#include "database/sql_escape.h"
#include "database/transaction.h"
#include "support/test_databases.h"

namespace quorvanti::database {
namespace {

using testing::ScratchDatabase;

class BackendTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        scratch_ = std::make_unique<ScratchDatabase>(GetParam());
        db_ = scratch_->connect();
    }

    DbKind kind() const { return GetParam(); }
    void queue(const std::string& codvenda, const std::string& corpoXml, const std::string& terminal = "1") {
        db_->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML, caminhoXMLcontigencia, "
                     "DataContigencia, Serv_ImpresNFCE) VALUES ('" + codvenda + "', 'enviar', '2024-03-05', " +
                     corpoXml + ", '', '', '" + terminal + "')");
    }
    std::size_t count(const std::string& sql) { return db_->open(sql).recordCount(); }

    std::unique_ptr<ScratchDatabase> scratch_;
    std::unique_ptr<DbConnection> db_;
};

TEST_P(BackendTest, ATransactionTakesEffectWholeOrNotAtAll) {
    queue("1-01", "'<NFe/>'");
    EXPECT_THROW(
        {
            Transaction transaction(*db_);
            db_->execute("delete from TabNCEAEnviar where codvenda = '1-01'");
            db_->execute("Update config set NumeroNFCE = 2");
            db_->execute("Insert into no_such_table values (1)");
            transaction.commit();
        },
        DbError);
    EXPECT_EQ(count("select * from TabNCEAEnviar"), 1u);  // rolled back with the failure
    {
        Transaction transaction(*db_);
        db_->execute("delete from TabNCEAEnviar where codvenda = '1-01'");
        // The point-of-sale program reads the state before the commit, as it was.
        EXPECT_EQ(scratch_->connect()->open("select * from TabNCEAEnviar").recordCount(), 1u);
        transaction.commit();
    }
    EXPECT_EQ(count("select * from TabNCEAEnviar"), 0u);
}

TEST_P(BackendTest, SnapshotIgnoresLaterInsertsAndDeletes) {
    queue("1-01", "'<NFe/>'");
    queue("2-01", "'<NFe/>'");
    Recordset rs = db_->open("select * from TabNCEAEnviar");

    // The point-of-sale program changes the queue through its own connection meanwhile.
    auto pos = scratch_->connect();
    pos->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada) VALUES ('3-01', 'enviar')");
    pos->execute("delete from TabNCEAEnviar where Codvenda = '1-01'");

    ASSERT_EQ(rs.recordCount(), 2u);
    std::string seen;
    for (; !rs.eof(); rs.moveNext()) seen += rs.field("codvenda").text() + ";";
    EXPECT_EQ(seen, "1-01;2-01;");
    EXPECT_EQ(count("select * from TabNCEAEnviar"), 2u);  // 2-01 and 3-01
}

// The emission routine's reads of a sale of 5 March 2024 with two items (one without a catalogue row),
// a non-item line and a sale of the next day under the same code.
TEST_P(BackendTest, SaleTotalsAndItemsMatchTheDateLiteral) {
    db_->execute("INSERT INTO Estoque (Codigo, cfop, cst, codigofiscal) VALUES (101, '5102', '102', '22021000')");
    db_->execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, "
                 "ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES ('55-01', '2024-03-05', '3', 101, 'Refrigerante', "
                 "2, 5.25, 10.5, 0.5, 'UN'), ('55-01', '2024-03-05', '3', 202, 'Pao', 4, 5, 20, 0, 'KG'), ('55-01', "
                 "'2024-03-05', '3', 0, 'Troco', 0, 0, 99, 0, ''), ('55-01', '2024-03-06', '3', 101, 'Refrigerante', 1, "
                 "5.25, 5.25, 0, 'UN')");

    const std::string date = dateLiteral("05/03/2024", dateQuote(kind()), dateFormat(kind()));
    Recordset totals = db_->open(authorisation::saleHeaderSql(kind(), "55-01", date));
    ASSERT_EQ(totals.recordCount(), 1u);
    std::string header;
    for (const char* column : {"Data", "ValorProdutos", "ValorDesconto", "ValorNota", "ValorIPI"})
        header += totals.field(column).text() + "|";
    EXPECT_EQ(header, "05/03/2024|30,5|0,5|30|0|");
    EXPECT_DOUBLE_EQ(totals.field("ValorNota").number(), 30.0);

    Recordset items = db_->open(authorisation::saleItemsSql(kind(), "55-01", date));
    ASSERT_EQ(items.recordCount(), 2u);
    std::set<std::string> read;  // code, fiscal code, unit price, quantity, catalogue CFOP null
    for (; !items.eof(); items.moveNext())
        read.insert(items.field("coditem").text() + "|" + items.field("codigofiscal").text() + "|" +
                    items.field("ValorUnitario").text() + "|" + items.field("Quantidade").text() +
                    (items.field("cfop").isNull() ? "|null" : ""));
    EXPECT_EQ(read, (std::set<std::string>{"101|22021000|5,25|2", "202||5|4|null"}));
}

TEST_P(BackendTest, TextNullsNumbersAndFailuresReadAsTheProgramExpects) {
    // Apostrophe and backslash are stored as typed.
    const std::string typed = "Bar D'Ávila \\ 2' \"A\" \\'; --";
    db_->execute("INSERT INTO Clientes (Numero, Nome, UF) VALUES (7, '" + sqlEscape(kind(), typed) + "', 'MT')");
    Recordset client = db_->open("SELECT * FROM Clientes WHERE Nome = '" + sqlEscape(kind(), typed) + "'");
    ASSERT_EQ(client.recordCount(), 1u);
    EXPECT_EQ(client.field("Nome").text(), typed);
    EXPECT_EQ(client.field("Numero").number(), 7.0);

    // Null joined to empty text gives empty; as a number it is an error.
    queue("6-01", "NULL");
    Recordset rs = db_->open("Select * from TabNCEAEnviar where Codvenda = '6-01'");
    EXPECT_TRUE(rs.field("corpoXML").isNull());
    EXPECT_EQ(rs.field("corpoXML").text(), "");
    EXPECT_EQ(rs.field("numeroNFCE").text(), "");
    EXPECT_THROW(rs.field("numeroNFCE").number(), DbError);

    // A failed statement raises DbError and leaves the connection working.
    EXPECT_THROW(db_->execute("delete from TabelaQueNaoExiste"), DbError);
    EXPECT_THROW(db_->open("select nada from config"), DbError);
    EXPECT_EQ(count("select * from config"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::database
