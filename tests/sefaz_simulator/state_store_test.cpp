// The state folder: what survives a restart, and what a crash between two writes leaves.
#include "sefaz_simulator/state_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace quorvanti::sefaz {
namespace {

using testing::writeFile;

// Two keys of the same emitter, model, series and number (other numeric codes) and one of another number.
const std::string kKey = "51260311222333000181650010000012341837461527";
const std::string kSameNumber = "51260311222333000181650010000012341192837465";
const std::string kOtherNumber = "51260311222333000181650010000012351837461520";

TEST(StateStoreTest, AuthorisedDocumentsAndSequencesOutliveTheStore) {
    testing::TempDir dir;
    {
        StateStore store(dir.file("estado"));
        EXPECT_EQ(store.nextProtocolSequence(), 1u);
        EXPECT_EQ(store.nextProtocolSequence(), 2u);
        EXPECT_EQ(store.nextReceiptSequence(), 1u);
        store.saveAuthorised({kKey, "510000000000001"}, "<nfeProc/>");
        store.saveReceiptResults("510000000000001", "<recibo/>");
    }
    StateStore store(dir.file("estado"));
    EXPECT_EQ(store.authorisedDocument(kKey), "<nfeProc/>");
    EXPECT_FALSE(store.authorisedDocument(kSameNumber));
    const auto byNumber = store.authorisedNumber(kSameNumber);
    ASSERT_TRUE(byNumber);
    EXPECT_EQ(byNumber->key, kKey);
    EXPECT_EQ(byNumber->receipt, "510000000000001");
    EXPECT_FALSE(store.authorisedNumber(kOtherNumber));
    EXPECT_EQ(store.receiptResults("510000000000001"), "<recibo/>");
    EXPECT_FALSE(store.receiptResults("510000000000002"));
    EXPECT_EQ(store.nextProtocolSequence(), 3u);
    EXPECT_EQ(store.nextReceiptSequence(), 2u);
    EXPECT_TRUE(std::filesystem::exists(dir.file("estado/numeracao/11222333000181/65-001-000001234")));
}

// What a crash between two writes leaves, names that are not digits and an unusable folder are refused.
TEST(StateStoreTest, WhatCannotBeTrustedIsRefused) {
    // As a crash leaves it: the entry written, the document not.
    testing::TempDir dir;
    StateStore store(dir.file("estado"));
    std::filesystem::create_directories(dir.file("estado/numeracao/11222333000181"));
    writeFile(dir.file("estado/numeracao/11222333000181/65-001-000001234"), kKey + " 510000000000001\n");
    EXPECT_FALSE(store.authorisedNumber(kSameNumber));
    store.saveAuthorised({kSameNumber, "510000000000002"}, "<nfeProc/>");
    EXPECT_EQ(store.authorisedNumber(kKey)->key, kSameNumber);

    EXPECT_THROW(store.authorisedDocument("../../../../../../../../../../../../etc/passwd"), StateError);
    EXPECT_THROW(store.saveAuthorised({kKey, "../1"}, "x"), StateError);
    EXPECT_FALSE(store.receiptResults("../recibos/510"));

    writeFile(dir.file("arquivo"), "x");
    EXPECT_THROW(StateStore(dir.file("arquivo/estado")), StateError);
}

}  // namespace
}  // namespace quorvanti::sefaz
