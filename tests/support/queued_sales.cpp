#include "support/queued_sales.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/program_folder.h"
#include "support/temp_dir.h"

namespace quorvanti::testing {

std::vector<std::string> queueSalesWithItems(const ProgramFolder& folder, int count) {
    std::vector<std::string> sales;
    for (int i = 0; i < count; ++i) sales.push_back(std::to_string(801 + i) + "-01");
    folder.execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES "
                   "(101, 'ARROZ', '5102', '102', '10063021')");
    std::string items, queue;
    for (const std::string& sale : sales) {
        items += (items.empty() ? "('" : ", ('") + sale + "', '2026-03-05', '', 101, 'Arroz', 2, 10, 20, 0, 'UN')";
        queue += (queue.empty() ? "('" : ", ('") + sale + "', 'enviar', '2026-03-05', 'x')";
    }
    folder.execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, "
                   "ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES " + items);
    folder.execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES " + queue);
    return sales;
}

void expectEachSaleAuthorisedOnce(const ProgramFolder& folder, const std::string& authorityState,
                                  const std::vector<std::string>& sales,
                                  const std::vector<const ProgramFolder*>& emitters) {
    EXPECT_EQ(folder.value("select count(*) as n from TabNCEAEnviar", "n"), "0");
    std::set<std::string> authorised;
    for (const auto& file : std::filesystem::directory_iterator(authorityState + "/autorizadas"))
        authorised.insert(file.path().stem().string());
    EXPECT_EQ(authorised.size(), sales.size());
    std::size_t numbered = 0;
    for (const auto& cnpj : std::filesystem::directory_iterator(authorityState + "/numeracao"))
        for (const auto& number : std::filesystem::directory_iterator(cnpj.path())) {
            ++numbered;
            const std::string holder = readFile(number.path().string()).substr(0, 44);
            EXPECT_TRUE(authorised.count(holder)) << number.path() << " holds " << holder;
        }
    EXPECT_EQ(numbered, sales.size());

    const auto rows = folder.connect()->open("select numeronfce, cod_venda, chave, corpo_nfce from nfce_gerada");
    EXPECT_EQ(rows.recordCount(), sales.size());
    std::map<std::string, std::string> keyOfSale;
    std::set<long long> numbers;
    for (auto r = rows; !r.eof(); r.moveNext()) {
        const std::string sale = r.field("cod_venda").text();
        const std::string key = r.field("chave").text();
        EXPECT_TRUE(keyOfSale.emplace(sale, key).second) << "two NFC-e rows for sale " << sale;
        EXPECT_TRUE(authorised.count(key)) << "recorded but not authorised: " << key;
        ASSERT_EQ(key.size(), 44u);
        const long long number = std::stoll(key.substr(25, 9));
        EXPECT_EQ(number, std::stoll(r.field("numeronfce").text())) << key;
        EXPECT_TRUE(numbers.insert(number).second) << "number used twice: " << key;
        bool stored = false;
        for (const ProgramFolder* emitter : emitters) {
            const std::string procNFe = emitter->path() + "/nfe/arquivos/procNFe/" + key + "-procNFe.xml";
            if (!std::filesystem::exists(procNFe)) continue;
            stored = true;
            EXPECT_EQ(r.field("corpo_nfce").text(), readFile(procNFe)) << key;
        }
        EXPECT_TRUE(stored) << "no procNFe file for " << key;
    }
    for (const std::string& sale : sales) EXPECT_TRUE(keyOfSale.count(sale)) << "sale without its NFC-e: " << sale;
    EXPECT_EQ(numbers.size(), sales.size());  // distinct, so 1..n when the least is 1 and the greatest n
    EXPECT_TRUE(numbers.empty() || (*numbers.begin() == 1 && *numbers.rbegin() == static_cast<long long>(sales.size())));
    EXPECT_EQ(folder.value("select NumeroNFCE from config", "NumeroNFCE"), std::to_string(sales.size() + 1));
    EXPECT_EQ(folder.value("select count(*) as n from VendasConclu where fiscal is null or fiscal <> 'Sim'", "n"), "0");
}

}  // namespace quorvanti::testing
