// File creation: the header image in memory, then the files on disk.
#include "ismgr/describe/file_creation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "ismgr/describe/xdl_parser.h"
#include "ismgr/fileio/file_io.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "support/data_rows.h"
#include "support/detail_capture.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

std::unique_ptr<FileDescription> parse(const std::string& text, int revision = 6,
                                       std::string* name = nullptr) {
  std::string scratch;
  const char* cursor = text.c_str();
  return build_file_description(cursor, name != nullptr ? name : &scratch, revision);
}

// A description with `keys` one-segment alpha keys over the first bytes.
FileDescription plain_description(uint16_t record_size, int keys, uint16_t key_length) {
  FileDescription d;
  d.record_size = record_size;
  d.key_count = static_cast<uint8_t>(keys);
  KeyDescription k;
  k.key_flags = kKeyFifo, k.seg_type[0] = kSegAlpha | kSegAscending;
  k.seg_length[0] = k.key_size = key_length;
  d.keys.assign(keys, k);
  return d;
}

// Slot sizes as tests/data/free_slots.tsv writes them.
std::vector<uint16_t> ranges(const std::string& text) {
  std::vector<uint16_t> out;
  std::istringstream in(text);
  for (uint32_t from, to, step; in >> from;) {
    to = from, step = 1;
    if (in.peek() == '-') in.ignore() >> to, in.ignore() >> step;
    for (uint32_t v = from; v <= to; v += step) out.push_back(static_cast<uint16_t>(v));
  }
  return out;
}

IsamHeader slot_header(int revision, uint8_t flags, uint16_t overhead, uint16_t record_size) {
  IsamHeader h;
  h.revision = static_cast<uint8_t>(revision), h.file_flags = flags;
  h.record_overhead = overhead, h.record_size = record_size;
  return h;
}

// The free-slot tables of tests/data/free_slots.tsv and the empty address.
TEST(FreeSlotTable, HandWorkedRows) {
  for (const auto& r : test::data_rows("free_slots.tsv")) {
    const IsamHeader h =
        slot_header(r.number(1), static_cast<uint8_t>(std::stoul(r[2], nullptr, 16)),
                    static_cast<uint16_t>(r.number(3)), static_cast<uint16_t>(r.number(4)));
    std::vector<uint16_t> sizes;
    for (const FreeSlot& s : initial_free_slots(h)) sizes.push_back(s.size);
    EXPECT_EQ(sizes, ranges(r.fields.size() > 5 ? r[5] : "")) << r.where;
  }
  const auto none = initial_free_slots(slot_header(6, 0x08, 1, 100))[0];
  EXPECT_EQ(none.address_low, 0xFFFFFFFFu);
  EXPECT_EQ(none.address_high, 0);
  EXPECT_EQ(initial_free_slots(slot_header(6, 0x48, 1, 100))[0].address_high, 0xFFFF);  // tbyte
  EXPECT_EQ(initial_free_slots(slot_header(4, 0x40, 1, 100))[0].address_high, 0xFF);
}

// Change tracking adds its key, forces static vectoring and tbyte; the
// snapshot counters split 300 as 255 + 45.
TEST(HeaderImage, ChangeTrackingKeyAndTbyte) {
  std::string name = "t,track_changes=300";
  auto d = parse("FILE;RECORD;SIZE 50;KEY 0;START 1;LENGTH 8;", 6, &name);
  HeaderImage img = build_header(*d, name, 6);
  const IsamHeader& h = img.header;
  EXPECT_EQ(h.key_count, 2);
  EXPECT_EQ(h.file_flags, 0x58);
  EXPECT_EQ(h.record_overhead, 23);  // 1 + 6 vectoring, then the tracking key's 16
  const KeyDescriptor& t = img.keys[1];
  EXPECT_EQ(t.key_flags, 0x1E);
  EXPECT_EQ(t.key_size, 5);
  EXPECT_EQ(std::string(t.key_name.data(), 15), "Change Tracking");
  EXPECT_EQ(img.counters.snapshot_count, 46);
  EXPECT_EQ(img.counters.snapshot_base, 255u);
  EXPECT_EQ(img.counters.tracking_slot, 45);
  EXPECT_EQ(img.counters.tracking_mark, 1);         // the slot is in use
  const std::vector<uint8_t> b = img.render(true);  // tbyte roots: 5 bytes in 256-byte units
  EXPECT_EQ(get_u32(&b[h.dynamic_offset + 1621]), h.data_header_units + 16u);
  EXPECT_EQ(get_u32(&b[h.dynamic_offset + 1632 + 52 + 4 * 45]), img.tracking.times[45]);
}

TEST(HeaderImage, SizeFromLaidOutPartsWhenRootsPadSeparately) {
  // 232 keys + the tracking key, 5-byte roots: roots 1168 + depths 236
  // bring the dynamic block to 4100 bytes, past the first 4096-byte unit,
  // though 233 x 6 rounded to 4 (1400) would not.
  std::string name = "big,track_changes";
  FileDescription d = plain_description(10, 232, 1);
  HeaderImage img = build_header(d, name, 6);
  EXPECT_EQ(img.header.dynamic_size, 4100);
  EXPECT_EQ(img.image_size, img.header.dynamic_offset + 8192u);
  const std::vector<uint8_t> b = img.render(true);
  EXPECT_EQ(b.size(), img.image_size);
  // The depth of the last key is the last byte before the counters.
  EXPECT_EQ(b[img.header.dynamic_offset + 1616 + 1168 + 232], 1);
}

// Placement of the file text (the short form beside the dynamic block is in
// the creation's fixed points): a long text goes to the data file.
TEST(HeaderImage, FileTextPlacement) {
  // 3000 bytes take 3 KB: too much beside the dynamic block, so the text
  // goes to the data file after the header region.
  auto e = parse("FILE;NAME c;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;");
  e->has_text = true;
  e->text.assign(3000, 'x');
  HeaderImage img = build_header(*e, "c", 6);
  EXPECT_FALSE(img.text_in_image);
  EXPECT_EQ(img.header.file_flags2 & 0x18u, 0x10u);
  EXPECT_EQ(img.extension.text_alloc_kb, 3);
  EXPECT_EQ(img.extension.text_offset, 8192u);
  EXPECT_EQ(img.extension.data_start, 8192u + 3072u);
  EXPECT_EQ(img.counters.text_length, 3000u);
  EXPECT_EQ(img.header.data_header_units, 32);  // the header region alone
  e->text.assign(1024, 'x');                    // exactly 1 KB fits beside the block, counted in KB
  EXPECT_EQ(build_header(*e, "c", 6).text_prefix.allocation_word, 1u | 0x08000000u);

  // A text option replaces the described text; its allocation is in KB.
  auto f = parse("FILE;NAME c;RECORD;SIZE 40;TEXT \"old\";KEY 0;START 1;LENGTH 4;");
  img = build_header(*f, "c,text=1K:'it''s'", 6);
  EXPECT_EQ(img.text, "it's");
  EXPECT_EQ(img.text_prefix.allocation_word, 1u | 0x08000000u);
  auto g = parse("FILE;NAME c;RECORD;SIZE 100;DENSITY 70;KEY 0;START 1;LENGTH 10;");
  EXPECT_EQ(build_header(*g, "c", 6).keys[0].density, 70);  // for keys without their own
}

TEST(HeaderImage, SequenceAutokeyStartsAtOneOrSeed) {
  auto d = parse("FILE;NAME c;RECORD;SIZE 20;KEY 0;START 1;LENGTH 8;TYPE sequence;");
  HeaderImage img = build_header(*d, "c", 6);
  EXPECT_EQ(img.counters.autoseed, 1);
  EXPECT_EQ(img.extension.seed, 0u);
  EXPECT_EQ(img.keys[0].seg_type[0] & 0x1F, kSegInteger);
  auto e = parse("FILE;NAME c;RECORD;SIZE 20;SEED 500;KEY 0;START 1;LENGTH 8;TYPE sequence;");
  img = build_header(*e, "c", 6);
  EXPECT_EQ(img.counters.autoseed, 500);
  EXPECT_EQ(img.extension.seed, 500u);
}

TEST(HeaderRefusals, StatusAndDetail) {
  DetailCapture details;
  for (const auto& r : test::data_rows("creation_refusals.tsv")) {
    auto d = parse("FILE;NAME c;RECORD;" + r[4]);
    details.clear();
    EXPECT_EQ(status_of([&] { build_header(*d, r[0], r.number(1)); }), r.number(2)) << r.where;
    EXPECT_TRUE(r[3].empty() || details.has(kDetailMessage, r[3])) << r.where << details.dump();
  }
  const auto status = [](FileDescription d, const std::string& name = "c") {
    return status_of([&] { build_header(d, name, 6); });
  };
  FileDescription d = plain_description(100, 1, 10);
  d.keys[0].key_flags |= kKeyNullReplicating;
  EXPECT_EQ(status(d), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Primary key does not allow null keys"));
  d = plain_description(100, 1, 10);
  d.keys[0].seg_type[0] = kSegAlpha | kSegDecimal;
  EXPECT_EQ(status(d), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Invalid segment type specified"));
  d = plain_description(100, 1, 10);
  d.keys[0].seg_start[0] = 95;
  EXPECT_EQ(status(d), 39);
  // Record and overhead beyond a 16-bit slot.
  details.clear();
  EXPECT_EQ(status(plain_description(65534, 1, 10), "c,variable"), 35);
  EXPECT_EQ(details.details().at(0).code, kDetailRecordTooLong);
  // Too much text, text beyond its allocation.
  d = plain_description(100, 1, 10);
  d.has_text = true;
  d.text.assign(65537, 't');
  EXPECT_EQ(status(d), 32);
  d.text.assign(2000, 't');
  d.text_alloc_kb = 1;
  EXPECT_EQ(status(d), 32);
  EXPECT_TRUE(details.has(kDetailMessage, "Specified file text exceeds allocation size"));
  // Change tracking leaves room for its key only below 255 keys.
  EXPECT_EQ(status(plain_description(10, 255, 1), "c,track_changes"), 30);
  EXPECT_TRUE(details.has(kDetailMessage, "Too many keys specified with TRACK_CHANGES: 254"));
}

TEST(CreationNames, ExtensionsAndDataNames) {
  std::string index, data;
  EXPECT_EQ(creation_file_names("cust", &index, &data), 0);
  EXPECT_EQ(index + " " + data, "cust.ism cust.is1");
  EXPECT_EQ(creation_file_names("dir/Cust, page=1024", &index, &data), 0);
  EXPECT_EQ(index + " " + data, "dir/Cust.ISM dir/Cust.IS1");
  EXPECT_EQ(creation_file_names("a.b/cust.dt5", &index, &data), 0);
  EXPECT_EQ(data, "a.b/cus_.dt5");
  // A final "." means "no extension", which an ISAM file name needs.
  EXPECT_EQ(creation_file_names("plain.", &index, &data), 58);
  EXPECT_EQ(creation_file_names("dir/", &index, &data), 58);
  EXPECT_EQ(creation_file_names("", &index, &data), 58);
  EXPECT_EQ(creation_file_names(std::string(600, 'n'), &index, &data), 4);
}

// Creation on disk: the files written, existing files, failures that leave
// nothing behind, preallocation and the index estimate.
const std::string kCustomer =
    "FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;NAME id;"
    "KEY 1;START 11;LENGTH 20;DUPLICATES yes;NAME name;";

class CreateTest : public ::testing::Test {
 protected:
  void SetUp() override { ctl_ = current_context(); }
  void TearDown() override { set_file_io_hooks_for_testing({}); }
  int create(const std::string& xdl, const std::string& leaf, bool replace = false,
             int revision = 6) {
    std::string name = dir_.file(leaf);
    const char* cursor = xdl.c_str();
    auto d = build_file_description(cursor, &name, revision);
    d->control = ctl_;
    const int rc = create_isam_file(*d, name, replace, revision);
    EXPECT_TRUE(rc != 0 || d->magic == 0);  // a used description is spent
    return rc;
  }
  int last_status() const { return ctl_->status->code; }
  std::vector<uint8_t> bytes(const std::string& leaf) const {
    const std::string s = dir_.read(leaf);
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

// Fixed points: the files the creation writes for a few settings equal,
// byte for byte apart from the creation time, the files the crafted-file
// builder lays out by hand for the same settings.
TEST_F(CreateTest, FilesEqualTheBuildersForTheSameSettings) {
  using testing::IsamBuilder;
  using testing::KeySpec;
  const auto key = [](const char* name, uint16_t start, uint16_t length, uint8_t flags,
                      uint16_t qualifier = 1) {
    KeySpec k = KeySpec::alpha(name, start, length, flags);
    k.qualifier_offset = qualifier;
    return k;
  };
  // A builder laid out as the creation lays out a file of these settings.
  const auto made = [](int revision, uint16_t size, uint8_t flags, uint16_t overhead) {
    IsamBuilder b;
    b.revision(revision).record_length(size).file_flags(flags).record_overhead(overhead);
    return b;
  };
  const uint32_t text32 = 32u | 0x04000000u;  // a 32-byte text allocation word
  const auto customer = [&] {
    return made(6, 100, 0x08, 4)
        .add_key(key("id", 0, 10, 0x02))
        .add_key(key("name", 10, 20, 0x06))
        .free_slot(0xFFFFFFFF, 104)
        .file_text_prefixed("", text32);
  };
  IsamBuilder variable = made(6, 100, 0x3A, 21);  // vectoring, stored GRFA, qualifiers, densities
  variable.file_flags2(0x400);
  KeySpec dups = key("", 10, 6, 0x06, 15), integer = key("", 20, 4, 0x06, 18);
  dups.density = 80;
  integer.segments[0].type = 0x04;
  variable.add_key(key("", 0, 10, 0x02, 15)).add_key(dups).add_key(integer);
  IsamHeader h;
  h.revision = 6, h.file_flags = 0x3A, h.record_overhead = 21, h.record_size = 100;
  for (const FreeSlot& slot : initial_free_slots(h))
    variable.free_slot(0xFFFFFFFF, slot.size);  // the sizes are checked by hand elsewhere
  const struct {
    const char* name;
    std::string xdl;
    int revision;
    IsamBuilder builder;
  } rows[] = {
      {"opt,page=1024,i=51:2", kCustomer + "PORT_INT 41:4;", 6,
       customer().page_units(4).port_int(51, 2).port_int(41, 4)},
      {"r4", "FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;DUPLICATES yes;", 4,
       made(4, 100, 0, 4).page_units(4).add_key(key("", 0, 10, 0x06)).free_slot(0xFFFFFFFF, 104)},
      {"var",
       "FILE;RECORD;SIZE 100;FORMAT variable;STORED_GRFA yes;KEY 0;START 1;LENGTH 10;KEY 1;START "
       "11;LENGTH 6;DUPLICATES yes;DENSITY 80;KEY 2;START 21;LENGTH 4;TYPE integer;ORDER "
       "descending;DUPLICATES yes;",
       6, variable.file_text_prefixed("", text32)}};
  for (const auto& r : rows) {
    ASSERT_EQ(create(r.xdl, r.name, false, r.revision), 0) << r.name << " " << last_status();
    const std::string base = std::string(r.name).substr(0, std::string(r.name).find(','));
    const auto index = bytes(base + ".ism");
    ASSERT_GE(index.size(), 32u) << r.name;
    IsamBuilder b = r.builder;
    b.times(get_u32(&index[28]), 0, 0, 0);
    EXPECT_TRUE(index == b.index_file()) << r.name;
    EXPECT_TRUE(bytes(base + ".is1") == b.data_file()) << r.name;
  }
  EXPECT_EQ(std::string(ctl_->current_name), dir_.file("var.ism"));
}

// A data file alone blocks the creation too; a refused creation is
// announced and leaves nothing; with replace both files are rewritten.
TEST_F(CreateTest, ExistingFilesNeedReplaceAndFailuresLeaveNoFiles) {
  DetailCapture details;
  dir_.write("keep.is1", "precious");
  EXPECT_EQ(create(kCustomer, "keep"), -1);
  EXPECT_EQ(last_status(), 40);
  EXPECT_TRUE(details.has(kDetailCreateFailed, ""));
  EXPECT_EQ(dir_.read("keep.is1"), "precious");
  EXPECT_EQ(create("FILE;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;TYPE decimal;"
                   "KEY 1;START 1;LENGTH 2;TYPE decimal;",
                   "ovl"),
            -1);
  EXPECT_EQ(last_status(), 68);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);  // keep.is1
  EXPECT_EQ(create(kCustomer, "keep", true), 0);
  EXPECT_EQ(bytes("keep.ism").size(), 16384u);
}

TEST_F(CreateTest, WriteFailureDeletesBothFiles) {
  int writes = 0;
  FileIoHooks hooks;
  // The data file's header goes through; the index image meets a full disk.
  hooks.write = [&](FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
    if (++writes < 2) return platform::write(h, buffer, count, done);
    *done = 0;
    platform::set_last_error(112);  // disk full
    return false;
  };
  set_file_io_hooks_for_testing(hooks);
  EXPECT_EQ(create(kCustomer, "full"), -1);
  EXPECT_EQ(last_status(), 16);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(CreateTest, PreallocationInRecords) {
  ASSERT_EQ(create("FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;", "pre,ralloc=10"), 0);
  // (10 x 101 + 8192 + 511) / 512 = 18 blocks: 9216 bytes.
  const auto data = bytes("pre.is1");
  ASSERT_EQ(data.size(), 9216u);
  EXPECT_EQ(data[8192], 0x80);
  EXPECT_EQ(get_u32(&data[8193]), 9216u);
  // The index gets room for one more block of the key.
  const auto index = bytes("pre.ism");
  EXPECT_EQ(index.size(), 8192u + 4096u + 4096u);
  IsamFileControl fc;
  ASSERT_EQ(build_file_control(index.data(), 4096, &fc, nullptr), 0);
  ASSERT_EQ(load_dynamic_header(&index[4096], fc.header.dynamic_size, &fc), 0);
  EXPECT_EQ(fc.counters.index_leof, 12288u);
  EXPECT_EQ(fc.prealloc_blocks, 18);
}

TEST_F(CreateTest, IndexEstimate) {
  IsamHeader h;
  h.page_units = 4;  // 1024 bytes
  KeyDescriptor k;
  k.key_size = 10;
  // (1024 - 12) x 90 / 100 / 14 = 65 entries a leaf; upper blocks hold
  // 90 x 1016 / 100 / 14 = 65 entries: 1000 records need 16 leaves + 1.
  EXPECT_EQ(estimate_index_blocks(h, {k}, 1000), 17u);
  EXPECT_EQ(estimate_index_blocks(h, {k}, 65), 1u);
  EXPECT_EQ(estimate_index_blocks(h, {k}, 0), 0u);
  k.density = 100;  // 95 percent: 68 a leaf
  EXPECT_EQ(estimate_index_blocks(h, {k}, 68), 1u);
  EXPECT_EQ(estimate_index_blocks(h, {k, k}, 69), 6u);  // 2 leaves + 1 root, twice
}

}  // namespace
}  // namespace ismgr
