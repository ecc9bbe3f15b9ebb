// The reference page of the text form is printed from the command table;
// the committed page must be that text, and every example in it must read
// back as written.
#include <gtest/gtest.h>

#include "tools/hostlib/assembler.h"
#include "tools/hostlib/disassembler.h"
#include "tools/hostlib/text_reference.h"

TEST(TextReference, CommittedPageIsCurrent) {
    const nimbra::Bytes page = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/docs/text-form.md");
    EXPECT_TRUE(std::string(page.begin(), page.end()) == nimbra::textFormReference())
        << "docs/text-form.md differs from the command table: run build/nimbra-asm --reference > docs/text-form.md";
}

TEST(TextReference, EveryExampleIsOneCommandThatReadsBackAsWritten) {
    for (const nimbra::CommandSpec &entry : nimbra::commandTable()) {
        nimbra::ScriptError error;
        auto stream = nimbra::assembleText(std::string("record {\n") + entry.example + "\n}\n", "example", "", error);
        ASSERT_TRUE(stream) << entry.name << ": " << error.text();
        const nimbra::Bytes payload(stream->begin() + 8, stream->end());
        ASSERT_FALSE(payload.empty());
        EXPECT_EQ(payload[0], entry.opcode) << entry.name;
        const nimbra::DisassembledCommand d = nimbra::disassembleCommand(payload, 0);
        EXPECT_EQ(d.text, entry.example);
        EXPECT_EQ(d.length, payload.size()) << entry.name;
        EXPECT_EQ(d.note, entry.endsStream ? "the device stops reading after this record" : "") << entry.name;
    }
}
