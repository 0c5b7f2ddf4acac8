// The AP configuration database from seeded files: what it loads, what it logs, what it
// writes back (byte for byte but for the time stamp), what it keeps as the backup.
#include "data/ap_config_db.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "common/paths.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::file_exists;
using ozr_test::LogCapture;
using ozr_test::read_text;
using ozr_test::TempRoot;
using ozr_test::write_text;

namespace {

const char* kDir = "/configs/easymesh";
const char* kDb = "/configs/easymesh/ozr_config_db.json";
const char* kBackup = "/configs/easymesh/ozr_config_db_backup.json";

void seed(const TempRoot& root, const std::string& text) {
    ASSERT_TRUE(ozr_make_dirs(root.path(kDir)));
    write_text(root.path(kDb), text);
}

// The file with its time stamp replaced by "T".
std::string unstamped(const std::string& text) {
    static const std::regex stamp("\"last updated\": \"[^\"]*\"");
    return std::regex_replace(text, stamp, "\"last updated\": \"T\"");
}

std::string record_text(const std::string& sn, const std::string& model, const std::string& ale,
                        const std::string& sys, const std::string& host, const std::string& cap,
                        const std::string& status) {
    const char* keys[] = {"serial-number", "hw-model",     "ale-id", "system-mac",
                          "hostname",      "hkt-mgmt-cap", "status"};
    const std::string values[] = {sn, model, ale, sys, host, cap, status};
    std::string out = "        {\n";
    for (size_t i = 0; i < 7; ++i)
        out += std::string("            \"") + keys[i] + "\": \"" + values[i] +
               (i < 6 ? "\",\n" : "\"\n");
    return out + "        }";
}

// The whole document as the database writes it (stamp "T").
std::string document(const std::string& records, const std::string& policy = "10, 0, 0, 0, 255",
                     const std::string& topo = "60, 60, 60, 3") {
    int p[5];
    unsigned long t[4];
    std::sscanf(policy.c_str(), "%d, %d, %d, %d, %d", &p[0], &p[1], &p[2], &p[3], &p[4]);
    std::sscanf(topo.c_str(), "%lu, %lu, %lu, %lu", &t[0], &t[1], &t[2], &t[3]);
    std::string list = records.empty() ? "[]" : "[\n" + records + "\n    ]";
    std::string out =
        "{\n"
        "    \"version\": \"1.0.0\",\n"
        "    \"last updated\": \"T\",\n"
        "    \"alme-port\": 8777,\n"
        "    \"other-map-controller-found\": false,\n"
        "    \"ap-white-list\": " +
        list +
        ",\n"
        "    \"metric-policy-configuration\": {\n";
    for (int i = 0; i < 5; ++i)
        out += std::string("        \"") + kMetricPolicyKeys[i] + "\": " + std::to_string(p[i]) +
               (i < 4 ? ",\n" : "\n");
    out += "    },\n    \"controller-topology-configuration\": {\n";
    for (int i = 0; i < 4; ++i)
        out += std::string("        \"") + kControllerTopologyKeys[i] +
               "\": " + std::to_string(t[i]) + (i < 3 ? ",\n" : "\n");
    out += "    }\n}\n";
    return out;
}

unsigned mode_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

ApRecord rec(const std::string& sn, const std::string& status = "NotDetected") {
    return ApRecord{sn, "", "", "", "", "", status};
}

}  // namespace

// ---- MAC texts ---------------------------------------------------------------------------

TEST(ApConfigDbMac, ColonGroupsOfTwoHexDigitsAtMostSix) {
    MAC m;
    ASSERT_TRUE(parse_db_mac("02:Ab:cd:00:01:ff", m));
    EXPECT_EQ(m, MAC(0x02, 0xab, 0xcd, 0x00, 0x01, 0xff));
    ASSERT_TRUE(parse_db_mac("02:ab", m));  // missing trailing groups are zero
    EXPECT_EQ(m, MAC(0x02, 0xab, 0, 0, 0, 0));
    for (const char* bad : {"", "02:ab:cd:00:01:ff:11", "2:ab:cd:00:01:ff", "02:ab:cd:00:01:fg",
                            "02-ab-cd-00-01-ff", "02:ab:", ":02", "02:ab:cd:00:01:ff:"})
        EXPECT_FALSE(parse_db_mac(bad, m)) << bad;
}

// ---- first start, unparsable files -----------------------------------------------------

TEST(ApConfigDbStart, EmptyFolderGetsTheDefaultDocumentAndASecondStartIsSilent) {
    TempRoot root;
    LogCapture log(root);
    {
        ApConfigDb db;
        ASSERT_TRUE(db.db_init());
        EXPECT_EQ(db.writes(), 1u);
    }
    std::string text = read_text(root.path(kDb));
    EXPECT_EQ(unstamped(text), document(""));
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\"last updated\": \"[A-Z][a-z]+day [A-Z][a-z]{2} [0-9]{2} [0-9]{4} "
                         "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{5} [A-Za-z0-9+-]+\"")))
        << text;
    EXPECT_EQ(mode_of(root.path(kDb)), 0600u);
    EXPECT_FALSE(file_exists(root.path(kBackup)));

    ApConfigDb again;
    ASSERT_TRUE(again.db_init());
    EXPECT_EQ(again.writes(), 0u);
    EXPECT_EQ(read_text(root.path(kDb)), text);
    EXPECT_EQ(count_of(log.text(), "ApConfigDb::db_check_integrity"), 0u);
}

TEST(ApConfigDbStart, UnreadableFilesAreKeptAsTheBackupAndReplacedByDefaults) {
    const std::string fail = "Database format verification failed: ";
    const std::string not_array = "Invalid type for ap-white-list: ";
    const std::pair<std::string, std::string> rows[] = {
        {"{\"version\": \"1.0.0\", \"ap-white-list\": [{\"serial-number\": \"A", fail},
        {"[1, 2, 3]", fail},
        {"\"text\"", fail},
        {" ", fail},
        {std::string(100000, '['), fail},
        {"{} trailing", fail},
        {"{\"ap-white-list\": {}}", not_array},
        {"{}", not_array},
        // A valid document, but beyond the bound: moved aside unread.
        {document("") + std::string(ApConfigDb::kMaxFileBytes, ' '), fail},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.first.substr(0, 40) + " (" + std::to_string(r.first.size()) + " bytes)");
        TempRoot root;
        LogCapture log(root);
        seed(root, r.first);
        ApConfigDb db;
        ASSERT_TRUE(db.db_init());
        EXPECT_EQ(unstamped(read_text(root.path(kDb))), document(""));
        EXPECT_EQ(read_text(root.path(kBackup)), r.first);
        EXPECT_EQ(mode_of(root.path(kBackup)), 0600u);
        const std::string l = log.text();
        EXPECT_NE(l.find("ApConfigDb::db_check_integrity - " + r.second + root.path(kDb)),
                  std::string::npos);
        if (r.second != fail)
            continue;
        const std::string dir = root.path(kDir);
        EXPECT_NE(
            l.find("ApConfigDb::db_check_integrity - moving the corrcupted file to new name " +
                   dir + "/ozr_config_db_backup.json"),
            std::string::npos);
        EXPECT_NE(l.find("ApConfigDb::db_check_integrity - constructing a new ozr_config_db.json"),
                  std::string::npos);
    }
}

TEST(ApConfigDbStart, StaleTemporariesOfAnInterruptedWriteAreRemoved) {
    TempRoot root;
    seed(root, document(""));
    write_text(root.path(std::string(kDb) + ".tmpAb12Cd"), "{\"partial\": ");
    write_text(root.path(std::string(kDir) + "/other.json.tmpAb12Cd"), "not ours");
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());
    EXPECT_FALSE(file_exists(root.path(std::string(kDb) + ".tmpAb12Cd")));
    EXPECT_TRUE(file_exists(root.path(std::string(kDir) + "/other.json.tmpAb12Cd")));
}

// ---- partly invalid and valid files ----------------------------------------------------

TEST(ApConfigDbStart, InvalidRecordsAreDroppedTheFileKeptAsBackupAndACleanOneWritten) {
    TempRoot root;
    LogCapture log(root);
    const std::string sn33(33, 'S');
    const std::string sn34(34, 'T');
    const std::string seeded =
        "{\"version\": \"0.9\", \"alme-port\": 1, \"ap-white-list\": [\n"
        // valid, Detected with an empty ale-id: accepted silently
        " {\"serial-number\": \"EX1\", \"hw-model\": \"M\", \"ale-id\": \"\", \"system-mac\": "
        "\"\", \"hostname\": \"h\", \"hkt-mgmt-cap\": \"c\", \"status\": \"Detected\"},\n"
        // duplicate of EX1: refused
        " {\"status\": \"Configured\", \"serial-number\": \"EX1\", \"hw-model\": \"M2\", "
        "\"ale-id\": \"02:00:00:00:00:01\", \"system-mac\": \"02:00:00:00:00:02\", "
        "\"hostname\": \"h2\"},\n"
        // 34 characters: refused; 33: accepted, without "hkt-mgmt-cap"
        " {\"serial-number\": \"" +
        sn34 +
        "\", \"hw-model\": \"M\", \"ale-id\": \"\", \"system-mac\": \"\", \"hostname\": \"\", "
        "\"status\": \"NotDetected\"},\n"
        " {\"serial-number\": \"" +
        sn33 +
        "\", \"hw-model\": \"M\", \"ale-id\": \"\", \"system-mac\": \"\", \"hostname\": \"\", "
        "\"status\": \"NotDetected\"},\n"
        // Configured with empty ale-id and bad system MAC: logged, accepted
        " {\"serial-number\": \"EX2\", \"hw-model\": \"\", \"ale-id\": \"\", \"system-mac\": "
        "\"02:zz\", \"hostname\": \"\", \"status\": \"Configured\"},\n"
        // a status that is no state: reported, kept as NotDetected
        " {\"serial-number\": \"EX3\", \"hw-model\": \"M\", \"ale-id\": \"\", \"system-mac\": "
        "\"\", \"hostname\": \"h\", \"status\": \"configured\"},\n"
        // a status that is not a string: the same
        " {\"serial-number\": \"EX4\", \"hw-model\": \"M\", \"ale-id\": \"\", \"system-mac\": "
        "\"\", \"hostname\": \"h\", \"status\": 3},\n"
        // not an object
        " 42,\n"
        // missing hw-model: dropped (5 of 6)
        " {\"serial-number\": \"EX5\", \"ale-id\": \"\", \"system-mac\": \"\", \"hostname\": "
        "\"h\", \"status\": \"Detected\"},\n"
        // an unknown key resets the status; non-string hw-model is counted but emptied
        " {\"serial-number\": \"EX6\", \"status\": \"Detected\", \"hw-model\": 7, \"ale-id\": "
        "\"\", \"system-mac\": \"\", \"hostname\": \"h\", \"colour\": \"red\"},\n"
        // serial number of another type
        " {\"serial-number\": 12, \"hw-model\": \"M\", \"ale-id\": \"\", \"system-mac\": \"\", "
        "\"hostname\": \"h\", \"status\": \"Detected\"}\n"
        "], \"metric-policy-configuration\": {\"metrics-report-interval\": \"20\", "
        "\"sta-metrics-rssi-threshold-dbm\": -70, \"sta-link-sta-traffic-stats\": 4294967296, "
        "\"unknown\": 1}, \"controller-topology-configuration\": "
        "{\"map-controller-dead-agent-detection-interval\": -1, "
        "\"al-entity-topology-discovery-interval\": 2.5}}";
    seed(root, seeded);
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());

    const std::string expected_records =
        record_text("EX1", "M", "", "", "h", "c", "Detected") + ",\n" +
        record_text("EX2", "", "", "02:zz", "", "", "Configured") + ",\n" +
        record_text("EX3", "M", "", "", "h", "", "NotDetected") + ",\n" +
        record_text("EX4", "M", "", "", "h", "", "NotDetected") + ",\n" +
        record_text("EX6", "", "", "", "h", "", "NotDetected") + ",\n" +
        record_text(sn33, "M", "", "", "", "", "NotDetected");
    EXPECT_EQ(unstamped(read_text(root.path(kDb))),
              document(expected_records, "10, -70, 0, 0, 255", "60, 60, 60, 4294967295"));
    EXPECT_EQ(read_text(root.path(kBackup)), seeded);
    EXPECT_EQ(db.records().size(), 6u);

    const std::string l = log.text();
    const std::string path = root.path(kDb);
    const std::string sig = "bool ApConfigDb::db_check_integrity(std::fstream&)";
    const std::vector<std::string> lines = {
        "ApConfigDb::db_check_integrity - duplicate sn: EX1 : " + path,
        "ApConfigDb::db_check_integrity - invalid value/bad length for sn: " + sn34,
        "ApConfigDb::db_check_integrity - invalid value/bad length for hw-model: ",
        sig + " empty value for ale id: " + path,
        "ApConfigDb::db_check_integrity - Bad system MAC: 02:zz ",
        sig + " empty value for hostname: " + path,
        sig + " invalid value for status configured: " + path,
        sig + " non-string value for status: " + path,
        "ApConfigDb::db_check_integrity - Invalid attribute for ap-white-list: " + path,
        "ApConfigDb::db_check_integrity - Missing field(s) in config db AP record. "
        "Actual/Expected: 5/6 removing this node",
        "ApConfigDb::db_check_integrity - non-string value for hw-model: " + path,
        sig + " unknown attribute colour: " + path,
        "ApConfigDb::db_check_integrity - non-string value for sn: " + path,
        "ApConfigDb::db_check_integrity - moving the corrupted file to new name " +
            root.path(kBackup),
    };
    for (const std::string& line : lines)
        EXPECT_NE(l.find(line), std::string::npos) << line;
    // The Detected record with an empty ale-id logged nothing about it.
    EXPECT_EQ(count_of(l, "empty value for ale id"), 1u);
    EXPECT_EQ(count_of(l, "corrcupted"), 0u);

    // The cleaned file loads silently.
    const size_t mark = log.text().size();
    ApConfigDb again;
    ASSERT_TRUE(again.db_init());
    EXPECT_EQ(again.writes(), 0u);
    EXPECT_EQ(again.records().size(), 6u);
    // Only the configured record's incomplete identity is reported again (4 lines).
    const std::string second = log.text().substr(mark);
    EXPECT_EQ(count_of(second, "db_check_integrity"), 4u) << second;
    EXPECT_EQ(count_of(second, "moving the"), 0u);
}

TEST(ApConfigDbStart, AMissingFieldAloneRewritesNothingUntilTheNextChange) {
    TempRoot root;
    LogCapture log(root);
    const std::string seeded =
        "{\"ap-white-list\": [{\"serial-number\": \"EX5\", \"ale-id\": \"\", \"system-mac\": "
        "\"\", \"hostname\": \"h\", \"status\": \"Detected\"}]}";
    seed(root, seeded);
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());
    EXPECT_EQ(read_text(root.path(kDb)), seeded);
    EXPECT_FALSE(file_exists(root.path(kBackup)));
    EXPECT_TRUE(db.records().empty());
    ASSERT_TRUE(db.db_add_record("EX7", rec("EX7")));
    EXPECT_EQ(unstamped(read_text(root.path(kDb))),
              document(record_text("EX7", "", "", "", "", "", "NotDetected")));
}

TEST(ApConfigDbStart, AScrambledValidFileLoadsAsItIsAndIsWrittenInTableOrder) {
    TempRoot root;
    LogCapture log(root);
    const std::string seeded =
        "{\"controller-topology-configuration\": {\"map-controller-link-metric-query-interval\": "
        "30, \"al-entity-topology-discovery-interval\": 45},\n"
        " \"ap-white-list\": [\n"
        "  {\"status\": \"Configured\", \"hostname\": \"kitchen\", \"hkt-mgmt-cap\": \"bh8\", "
        "\"system-mac\": \"02:00:00:00:0b:02\", \"ale-id\": \"02:00:00:00:0b:01\", \"hw-model\": "
        "\"EXT-2\", \"serial-number\": \"ZZ9\"},\n"
        "  {\"hw-model\": \"EXT-1\", \"serial-number\": \"AA1\", \"status\": \"Detected\", "
        "\"hostname\": \"hall\", \"ale-id\": \"02:00:00:00:0a:01\", \"system-mac\": "
        "\"02:00:00:00:0a:02\"}],\n"
        " \"other-map-controller-found\": true, \"alme-port\": 1, \"last updated\": \"then\",\n"
        " \"metric-policy-configuration\": {\"sta-link-sta-traffic-stats\": 0, "
        "\"metrics-report-interval\": 5}, \"version\": \"0.1\"}";
    seed(root, seeded);
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());
    EXPECT_EQ(read_text(root.path(kDb)), seeded);  // valid: not rewritten
    EXPECT_EQ(db.writes(), 0u);
    EXPECT_EQ(count_of(log.text(), "ApConfigDb::db_check_integrity"), 0u);
    rapidjson::Document shown;
    db.db_build_json(shown);
    EXPECT_STREQ(shown["last updated"].GetString(), "then");

    ASSERT_TRUE(db.db_delete_record("AA1"));
    EXPECT_EQ(unstamped(read_text(root.path(kDb))),
              document(record_text("ZZ9", "EXT-2", "02:00:00:00:0b:01", "02:00:00:00:0b:02",
                                   "kitchen", "bh8", "Configured"),
                       "5, 0, 0, 0, 0", "45, 60, 30, 3"));
}

// ---- changes ----------------------------------------------------------------------------

TEST(ApConfigDbChange, RecordOperationsAnswerAndLogAsExpected) {
    TempRoot root;
    LogCapture log(root);
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());
    ASSERT_TRUE(db.db_add_record("B2", rec("B2")));
    ASSERT_TRUE(db.db_add_record("A1", rec("A1")));
    EXPECT_FALSE(db.db_add_record("A1", rec("A1")));
    EXPECT_NE(log.text().find("ApConfigDb::db_add_record - sn: A1 already exists"),
              std::string::npos);

    auto q = db.db_query_record("A1");
    ASSERT_EQ(q.first, 0);
    EXPECT_EQ(q.second->status, "NotDetected");
    EXPECT_EQ(db.db_query_record("C3").first, 2);
    EXPECT_EQ(db.db_get_record("C3").first, 2);
    EXPECT_NE(log.text().find("ApConfigDb::db_get_record - sn: C3 not found"), std::string::npos);

    ApRecord other = rec("B2", "Detected");
    EXPECT_FALSE(db.db_update_record("A1", other));
    EXPECT_NE(log.text().find("ApConfigDb::db_update_record - serial # mismatch. key sn: A1 rec "
                              "sn: B2"),
              std::string::npos);
    EXPECT_EQ(db.db_query_record("A1").second->status, "NotDetected");
    EXPECT_FALSE(db.db_update_record("C3", rec("C3")));
    EXPECT_FALSE(db.db_delete_record("C3"));
    EXPECT_NE(log.text().find("ApConfigDb::db_delete_record - serial #C3 not found"),
              std::string::npos);

    const ApRecord full{"A1", "EXT",       "den", "02:00:00:00:00:0a", "02:00:00:00:00:0b",
                        "x",  "Configured"};
    ASSERT_TRUE(db.db_update_record("A1", full));
    EXPECT_EQ(unstamped(read_text(root.path(kDb))),
              document(record_text("A1", "EXT", "02:00:00:00:00:0a", "02:00:00:00:00:0b", "den",
                                   "x", "Configured") +
                       ",\n" + record_text("B2", "", "", "", "", "", "NotDetected")));
}

TEST(ApConfigDbChange, AnUnwritableFolderKeepsTheChangeInMemoryAndTheNextChangeWritesIt) {
    TempRoot root;
    LogCapture log(root);
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());
    ASSERT_TRUE(db.db_add_record("A1", rec("A1")));
    const std::string before = read_text(root.path(kDb));
    // The folder turns into a file: no temporary file can be created in it (even as root).
    ASSERT_EQ(rename(root.path(kDir).c_str(), root.path("/moved").c_str()), 0);
    write_text(root.path(kDir), "x");

    EXPECT_FALSE(db.db_add_record("B2", rec("B2")));
    EXPECT_EQ(db.db_query_record("B2").first, 0);  // memory keeps it
    EXPECT_NE(
        log.text().find("ApConfigDb::db_write_file - Database write failed: " + root.path(kDb)),
        std::string::npos);
    MetricPolCfg pol;
    EXPECT_FALSE(db.db_update_map_policy_cfg(pol));  // unchanged, but the file is behind

    ASSERT_EQ(unlink(root.path(kDir).c_str()), 0);
    ASSERT_EQ(rename(root.path("/moved").c_str(), root.path(kDir).c_str()), 0);
    EXPECT_EQ(read_text(root.path(kDb)), before);  // the old file is whole
    EXPECT_TRUE(db.db_update_map_policy_cfg(pol));
    EXPECT_EQ(unstamped(read_text(root.path(kDb))),
              document(record_text("A1", "", "", "", "", "", "NotDetected") + ",\n" +
                       record_text("B2", "", "", "", "", "", "NotDetected")));
}

TEST(ApConfigDbStart, RecordsBeyondTheBoundAreDroppedAndTheFileKeptAsBackup) {
    TempRoot root;
    LogCapture log(root);
    std::string list;
    for (size_t i = 0; i <= ApConfigDb::kMaxRecords; ++i) {
        char sn[8];
        std::snprintf(sn, sizeof sn, "S%03zu", i);
        list += std::string(i ? "," : "") + "{\"serial-number\": \"" + sn +
                "\", \"hw-model\": \"\", \"ale-id\": \"\", \"system-mac\": \"\", \"hostname\": "
                "\"\", \"status\": \"NotDetected\"}";
    }
    const std::string seeded = "{\"ap-white-list\": [" + list + "]}";
    seed(root, seeded);
    ApConfigDb db;
    ASSERT_TRUE(db.db_init());
    EXPECT_EQ(db.records().size(), ApConfigDb::kMaxRecords);
    EXPECT_EQ(db.records().count("S032"), 0u);
    EXPECT_EQ(read_text(root.path(kBackup)), seeded);
    EXPECT_NE(log.text().find("more than 32 AP records, dropping sn: S032"), std::string::npos);
}
