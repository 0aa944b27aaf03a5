// unit_register_map_test.cpp - register maps from CMSIS-SVD text: names and addresses of every form,
// fields and their values, look-ups, and each refusal with its line.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "register_map.h"

namespace {

std::string BoardMap()
{
    std::ifstream file(std::string(DUZE_SOURCE_DIR) + "/tests/maps/board.svd", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Names that differ only in case: the spelling given wins, and a name several registers answer to in
// any case names none of them; they are listed.
// A long reading lets an interrupt act every 4,096 registers: the tool's hook is called that often.
int g_nPolls = 0;
TEST(RegisterMap, ALongReadingLetsInterruptsAct)
{
    std::string strRegisters;
    for (int i = 0; i < 10000; ++i)
        strRegisters += "<register><name>R" + std::to_string(i) + "</name><addressOffset>" + std::to_string(4 * i) +
                        "</addressOffset></register>";
    SetMapReadPoll([] { ++g_nPolls; });
    RegisterMap map;
    std::string strError;
    EXPECT_TRUE(ReadRegisterMap("big.svd", "<device><peripherals><peripheral><name>P</name><baseAddress>0</baseAddress>"
                                           "<registers>" + strRegisters + "</registers></peripheral></peripherals></device>",
                                "", map, strError)) << strError;
    SetMapReadPoll(nullptr);
    EXPECT_EQ(g_nPolls, 2);
}

TEST(RegisterMap, AnExactNameWinsAndNoNameGuesses)
{
    RegisterMap map;
    std::string strError;
    ASSERT_TRUE(ReadRegisterMap("case.svd", "<device><peripherals><peripheral><name>U</name><baseAddress>0</baseAddress>"
                                            "<registers><register><name>ctrl</name><addressOffset>0x10</addressOffset></register>"
                                            "<register><name>CTRL</name><addressOffset>0x14</addressOffset></register>"
                                            "<register><name>EN</name><addressOffset>0x18</addressOffset></register>"
                                            "</registers></peripheral><peripheral><name>V</name><baseAddress>0x100</baseAddress>"
                                            "<registers><register><name>EN</name><addressOffset>0</addressOffset></register>"
                                            "</registers></peripheral></peripherals></device>", "", map, strError)) << strError;
    struct {
        const char *pszName;
        int nAddress; // -1: none
        const char *pszAmbiguous;
    } aCases[] = {
        {"U.CTRL", 0x14, ""}, {"U.ctrl", 0x10, ""}, {"CTRL", 0x14, ""}, {"ctrl", 0x10, ""}, {"u.en", 0x18, ""},
        {"u.Ctrl", -1, "u.Ctrl is ambiguous: U.ctrl, U.CTRL"}, {"Ctrl", -1, "Ctrl is ambiguous: U.ctrl, U.CTRL"},
        {"EN", -1, "EN is ambiguous: U.EN, V.EN"}, {"V.EN", 0x100, ""}, {"W.EN", -1, ""},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        std::vector<const MapRegister *> apCandidates;
        const MapRegister *pRegister = FindMapRegisterByName(map, c.pszName, &apCandidates);
        EXPECT_EQ(pRegister != nullptr ? (int)pRegister->nAddress : -1, c.nAddress);
        EXPECT_EQ(apCandidates.empty() ? "" : AmbiguousName(c.pszName, apCandidates), c.pszAmbiguous);
    }
}

TEST(RegisterMap, EveryFormOfNameAndAddress)
{
    RegisterMap map;
    std::string strError;
    ASSERT_TRUE(ReadRegisterMap("board.svd", BoardMap(), "", map, strError)) << strError;
    struct {
        const char *pszName;
        uint32_t nAddress;
        uint32_t nBits;
    } aCases[] = {
        {"UART.CTRL", 0x0, 32},      {"UART2.TXDATA", 0x108, 32},         {"PWM.CHANNEL[0].TOPCMP", 0x1000, 16},
        {"pwm.channel[3].cfg", 0x1034, 32}, {"GPIO.PINC", 0x2008, 8}, {"pinb", 0x2004, 8},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        const MapRegister *pRegister = FindMapRegisterByName(map, c.pszName);
        ASSERT_NE(pRegister, nullptr);
        EXPECT_EQ(pRegister->nAddress, c.nAddress);
        EXPECT_EQ(pRegister->nBits, c.nBits);
        EXPECT_EQ(FindMapRegister(map, c.nAddress), pRegister);
    }
    // A register name alone where two peripherals have it, and an address no register starts at.
    EXPECT_EQ(FindMapRegisterByName(map, "CTRL"), nullptr);
    EXPECT_EQ(FindMapRegister(map, 0x2), nullptr);
    EXPECT_EQ(map.aRegisters.size(), 19u);
    // A derived register: its base's size and fields at its own address.
    ASSERT_NE(FindMapRegisterByName(map, "UART2.CTRL2"), nullptr);
    EXPECT_EQ(DescribeRegister(*FindMapRegisterByName(map, "UART2.CTRL2"), 0x1A05),
              "  UART2.CTRL2: EN=1 MODE=0x2 (IRDA) BAUD=0x1A\n");
    EXPECT_EQ(DescribeRegister(*FindMapRegister(map, 0x0), 0x1A05), "  UART.CTRL: EN=1 MODE=0x2 (IRDA) BAUD=0x1A\n");
    EXPECT_EQ(DescribeRegister(*FindMapRegister(map, 0x1034), 0x2), "  PWM.CHANNEL[3].CFG: MODE=0x1 (LOOPBACK)\n");
    EXPECT_EQ(DescribeRegister(*FindMapRegister(map, 0x108), 0x2), "  UART2.TXDATA\n");
    EXPECT_EQ(FindMapRegister(map, 0x104)->strReadAction, "clear");
    EXPECT_EQ(FindMapRegister(map, 0x104)->eAccess, kMapReadOnly);
    // Scaled numbers: 16k is 16384, as the format's k says.
    ASSERT_TRUE(ReadRegisterMap("s.svd", "<device><peripherals><peripheral><name>P</name><baseAddress>0</baseAddress>"
                                         "<registers><register><name>R</name><addressOffset>16k</addressOffset></register>"
                                         "</registers></peripheral></peripherals></device>", "", map, strError)) << strError;
    EXPECT_EQ(FindMapRegisterByName(map, "R")->nAddress, 16384u);
    ASSERT_TRUE(ReadRegisterMap("board.svd", BoardMap(), "", map, strError));
    // A base of the map's own: the first UART is below it, in the map but not on the board; a
    // peripheral's name is its base address.
    ASSERT_TRUE(ReadRegisterMap("board.svd", BoardMap(), "0x40000000", map, strError));
    for (const char *pszBase : {"0x40000100", "UART2", "uart2"}) {
        SCOPED_TRACE(pszBase);
        bool bKnown = strcmp(pszBase, "uart2") != 0;
        ASSERT_EQ(ReadRegisterMap("board.svd", BoardMap(), pszBase, map, strError), bKnown) << strError;
        if (!bKnown) {
            EXPECT_EQ(strError, "board.svd: the map's base 'uart2' is neither a number nor a peripheral's name");
            continue;
        }
        EXPECT_FALSE(FindMapRegisterByName(map, "UART.CTRL")->bOnBoard);
        EXPECT_EQ(FindMapRegisterByName(map, "UART.CTRL")->nSvdAddress, 0x40000000u);
        EXPECT_EQ(FindMapRegister(map, 0)->strName, "UART2.CTRL");
        EXPECT_EQ(map.aRegisters.size(), 19u);
    }
}

// Each malformed map: the file, the line and what is wrong.
TEST(RegisterMap, MalformedMapsSayWhereAndWhat)
{
    const std::string kHead = "<device>\n<peripherals>\n<peripheral><name>P</name><baseAddress>0</baseAddress>\n<registers>\n";
    const std::string kTail = "</registers></peripheral>\n</peripherals>\n</device>\n";
    struct {
        const char *pszName;
        std::string strText;
        const char *pszError;
    } aCases[] = {
        {"not XML", "<device>\n<peripherals>\n</device>\n", "m.svd line 3: not well-formed XML: invalid closing tag name"},
        {"not SVD", "<html>\n</html>\n", "m.svd line 1: not a CMSIS-SVD file: its root element is not <device>"},
        {"empty", "", "m.svd: not a CMSIS-SVD file: its root element is not <device>"},
        {"derivedFrom nothing", "<device>\n<peripherals>\n<peripheral derivedFrom=\"Q\"><name>P</name><baseAddress>0"
                                "</baseAddress></peripheral>\n</peripherals>\n</device>\n",
         "m.svd line 3: derivedFrom='Q' names no peripheral"},
        {"loop", "<device>\n<peripherals>\n<peripheral derivedFrom=\"B\"><name>A</name><baseAddress>0</baseAddress>"
                 "</peripheral>\n<peripheral derivedFrom=\"A\"><name>B</name><baseAddress>4</baseAddress></peripheral>\n"
                 "</peripherals>\n</device>\n",
         "m.svd line 4: derivedFrom='A' makes a loop of peripherals"},
        {"enumeration from nothing", kHead + "<register><name>R</name><addressOffset>0</addressOffset><fields>\n"
                                     "<field><name>F</name><bitOffset>0</bitOffset>\n<enumeratedValues derivedFrom=\"E\"/>"
                                     "</field></fields></register>\n" + kTail,
         "m.svd line 7: derivedFrom='E' names no enumeratedValues"},
        {"loop of enumerations", kHead + "<register><name>R</name><addressOffset>0</addressOffset><fields>\n"
                                 "<field><name>F</name><bitOffset>0</bitOffset>\n<enumeratedValues derivedFrom=\"E\">"
                                 "<name>D</name></enumeratedValues><enumeratedValues derivedFrom=\"D\"><name>E</name>"
                                 "</enumeratedValues></field></fields></register>\n" + kTail,
         "m.svd line 7: derivedFrom='D' makes a loop of enumeratedValues"},
        {"a chain that loops after its first", kHead + "<register><name>R0</name><addressOffset>0</addressOffset></register>\n"
                                               "<register derivedFrom=\"R2\"><name>R1</name></register>\n"
                                               "<register derivedFrom=\"R1\"><name>R2</name></register>\n" + kTail,
         "m.svd line 7: derivedFrom='R1' makes a loop of registers"},
        {"dim without increment", kHead + "<register><dim>2</dim><name>R%s</name><addressOffset>0</addressOffset>"
                                  "</register>\n" + kTail,
         "m.svd line 5: <dim> without <dimIncrement>"},
        {"bad number", kHead + "<register><name>R</name><addressOffset>0x1G</addressOffset></register>\n" + kTail,
         "m.svd line 5: <addressOffset> '0x1G' is not a number"},
        {"bad binary digit", kHead + "<register><name>R</name><addressOffset>#12</addressOffset></register>\n" + kTail,
         "m.svd line 5: <addressOffset> '#12' is not a number"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        RegisterMap map;
        std::string strError;
        EXPECT_FALSE(ReadRegisterMap("m.svd", c.strText, "", map, strError));
        EXPECT_EQ(strError, c.pszError);
    }
}

// What other readers take with a warning is read, each kind said once with its line: access values in
// any case, write for write-only, a field past its register (cut), a value wider than its field (left
// out); what the format allows is read: don't-care bits, isDefault, several register blocks, 64 bits.
TEST(RegisterMap, ToleratedAndAllowed)
{
    const std::string kHead = "<device>\n<peripherals>\n<peripheral><name>P</name><baseAddress>0</baseAddress>\n<registers>\n";
    const std::string kTail = "</registers></peripheral>\n</peripherals>\n</device>\n";
    RegisterMap map;
    std::string strError;
    ASSERT_TRUE(ReadRegisterMap("m.svd", kHead +
        "<register><name>A</name><addressOffset>0</addressOffset><access>read-writeonce</access><size>8</size>\n"
        "<fields><field><name>F</name><bitRange>[8:1]</bitRange></field><field><name>G</name><bitRange>[12:9]</bitRange>"
        "</field></fields></register>\n"
        "<register><name>B</name><addressOffset>4</addressOffset><access>write</access><fields>\n<field><name>M</name>"
        "<bitRange>[2:0]</bitRange><enumeratedValues><enumeratedValue><name>WIDE</name><value>8</value></enumeratedValue>"
        "<enumeratedValue><name>ODD</name><value>#xx1</value></enumeratedValue><enumeratedValue><name>TWO</name>"
        "<value>0b010</value></enumeratedValue><enumeratedValue><name>OTHER</name><isDefault>true</isDefault>"
        "</enumeratedValue></enumeratedValues></field></fields></register>\n"
        "</registers><registers><register><name>C</name><addressOffset>8</addressOffset><size>64</size>"
        "<resetValue>0x100000000</resetValue><fields><field><name>HI</name><bitRange>[63:32]</bitRange></field></fields>"
        "</register>\n" + kTail, "", map, strError)) << strError;
    EXPECT_EQ(map.aWarnings, (std::vector<std::string>{
        "line 5: <access> 'read-writeonce' is taken as read-writeOnce",
        "line 6: field F (bits 8..1) of P.A passes its 8-bit register: it is cut there",
        "line 6: field G (bits 12..9) of P.A lies outside its 8-bit register: it is left out",
        "line 7: <access> 'write' is taken as write-only",
        "line 8: value 8 of field M does not fit its 3 bits: it is left out"}));
    ASSERT_EQ(map.aRegisters.size(), 3u);
    EXPECT_EQ(map.aRegisters[0].eAccess, kMapReadWriteOnce);
    EXPECT_EQ(DescribeRegister(map.aRegisters[0], 0xFF), "  P.A: F=0x7F\n");
    EXPECT_EQ(map.aRegisters[1].eAccess, kMapWriteOnly);
    EXPECT_EQ(DescribeRegister(map.aRegisters[1], 5), "  P.B: M=0x5 (ODD)\n");
    EXPECT_EQ(DescribeRegister(map.aRegisters[1], 2), "  P.B: M=0x2 (TWO)\n");
    EXPECT_EQ(DescribeRegister(map.aRegisters[1], 4), "  P.B: M=0x4 (OTHER)\n");
    EXPECT_EQ(map.aRegisters[2].nBits, 64u);
    EXPECT_EQ(DescribeRegister(map.aRegisters[2], 0x200000000ull, false, true), "  P.C: HI=0x2*\n");
    EXPECT_EQ(DescribeRegister(map.aRegisters[2], 0x100000000ull, false, true), "  P.C: HI=0x1\n");
}

} // namespace
