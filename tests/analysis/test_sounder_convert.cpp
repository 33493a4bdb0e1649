// Conversions read back: the viewer layout through the viewer's own reader gives the
// volts of the codes, the SigMF data (ru16_le) holds the codes and the meta its required fields.

#include "run_sounder.h"
#include "text_io.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

double volts(int code) { return (code - 2048) / 2048.0 * 5.0; }

}  // namespace

TEST(SounderConvert, ViewerLayoutReadsBackAsTheVoltsOfTheCodes)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), recording(3, 5000, 2, -2));  // divider 2, cut short
    const RunResult run = runSounder(dir, "convert rec.txt --to viewer --channel 3");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("the last 1000 samples of each sweep are left out"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("2 of 3 sweeps present, 1 missing"), std::string::npos) << run.err;

    // As the viewer reads it: an item, then the rest of its line, then the check.
    rt::TextReader file;
    file.open(dir.file("rec.txt.ch3.txt"));
    auto item = [&](auto read) {
        const auto value = read();
        file.readLn();
        file.check();
        return value;
    };
    EXPECT_EQ(item([&] { return file.readInt(); }), 2);
    EXPECT_EQ(item([&] { return file.readInt(); }), 4000);
    EXPECT_EQ(item([&] { return file.readInt(); }), -2);
    EXPECT_EQ(item([&] { return file.readInt(); }), 30);
    EXPECT_EQ(item([&] { return file.readReal(); }), 0.0);
    for (int sweep = 0; sweep < 2; ++sweep)
        for (int i = 0; i < 4000; ++i) {
            const int line = sweep * 5000 + i;
            ASSERT_EQ(item([&] { return file.readReal(); }), volts(4095 - line % 4096)) << line;
        }
    file.readReal();
    EXPECT_TRUE(file.atEnd());
    // The sweep count was rewritten in place, as wide as the promised one.
    EXPECT_EQ(readBytes(dir.file("rec.txt.ch3.txt")).substr(0, 3), "2\r\n");
}

TEST(SounderConvert, ViewerCountPaddedWhenNarrower)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), recording(10, 2500, 1));
    const RunResult run = runSounder(dir, "convert rec.txt --to viewer -o out.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readBytes(dir.file("out.txt")).substr(0, 4), "1 \r\n");
}

TEST(SounderConvert, SigmfDataHoldsTheCodesAndMetaItsFields)
{
    TempDir dir;
    const std::string text = recording(2, 2500, 2, 31) ;
    writeBytes(dir.file("rec.txt"), text);
    const RunResult run = runSounder(dir, "convert rec.txt --to sigmf --datatype ru16_le -o out");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "rec.txt: no metadata sidecar (rec.txt.meta.json): the SigMF metadata has no sample rate, "
                       "time or hardware\n");
    const std::string data = readBytes(dir.file("out.sigmf-data"));
    ASSERT_EQ(data.size(), 2u * 2500 * 3 * 2);
    for (int i = 0; i < 5000; ++i) {
        const int expected[3] = {i % 4096, (i * 7) % 4096, 4095 - i % 4096};
        for (int c = 0; c < 3; ++c) {
            const size_t at = 2 * (3 * size_t(i) + c);
            ASSERT_EQ(uint8_t(data[at]) | (uint8_t(data[at + 1]) << 8), expected[c]) << i;
        }
    }
    const QByteArray metaBytes = QByteArray::fromStdString(readBytes(dir.file("out.sigmf-meta")));
    const QJsonObject meta = QJsonDocument::fromJson(metaBytes).object();
    const QJsonObject global = meta["global"].toObject();
    EXPECT_EQ(global["core:datatype"].toString(), "ru16_le");
    EXPECT_EQ(global["core:num_channels"].toInt(), 3);
    EXPECT_TRUE(global["core:version"].toString().startsWith("1."));
    EXPECT_FALSE(global["core:recorder"].toString().isEmpty());
    EXPECT_FALSE(global["core:description"].toString().isEmpty());
    const QByteArray sha512 =
        QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha512).toHex();
    EXPECT_EQ(global["core:sha512"].toString().toLatin1(), sha512);
    const QJsonArray extensions = global["core:extensions"].toArray();
    ASSERT_EQ(extensions.size(), 1);
    const QString ns = extensions[0].toObject()["name"].toString();
    EXPECT_EQ(global[ns + ":settings"].toObject()["attenuation_db"].toInt(), 31);
    EXPECT_EQ(meta["captures"].toArray().size(), 1);
    const QJsonArray annotations = meta["annotations"].toArray();
    ASSERT_EQ(annotations.size(), 2);
    EXPECT_EQ(annotations[1].toObject()["core:sample_start"].toInt(), 2500);
    EXPECT_EQ(annotations[1].toObject()["core:sample_count"].toInt(), 2500);
    EXPECT_EQ(annotations[1].toObject()["core:label"].toString(), "sweep 2");
}
