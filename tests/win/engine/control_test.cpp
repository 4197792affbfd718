// The engine control host against our own test control: creation and initialisation order, the
// exact form of the Load and Save calls, failure texts, events, and the order of the teardown.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/control/DocEngineLib_TLB.h"
#include "engine/control/engine_choice.h"
#include "tests/win/engine/test_control.h"
#include "win32/handles.h"
#include "win32/system_text.h"

using vellumor::EngineError;
using vellumor::OleEngineError;
using vellumor::TDocEngineControl;
using Steps = std::vector<std::string>;

namespace {

constexpr RECT kBounds{1, 1, 715, 51};  // 714 by 50 at 1, 1

// A CLSID that names no class anywhere.
constexpr CLSID kNoSuchClass = {
    0x5A1C0D7E, 0x0B1E, 0x4C3A, {0x9E, 0x21, 0x6D, 0x0F, 0x44, 0x31, 0x27, 0x99}};

std::string ExpectedSystemText(HRESULT code) {
    std::string text = vellumor::win::SystemMessageText(static_cast<DWORD>(code));
    if (!text.empty()) return text;
    char buffer[32];
    wsprintfA(buffer, "OLE error %.8X", static_cast<unsigned>(code));
    return buffer;
}

class ControlHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(apartment_.ok());
        testctl::Reset();
        registration_ = std::make_unique<testctl::Registration>(vellumor::kDocEngineClassId);
        ASSERT_TRUE(registration_->ok());
        panel_ = CreateWindowExW(0, L"STATIC", L"Panel3", WS_POPUP | WS_VISIBLE, 0, 0, 800, 60,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(panel_, nullptr);
    }
    void TearDown() override {
        host_.reset();
        registration_.reset();
        if (panel_) DestroyWindow(panel_);
        EXPECT_EQ(testctl::log().liveObjects, 0) << "a control object was never released";
    }

    TDocEngineControl& Make(std::vector<std::uint8_t> state = {}) {
        host_ = std::make_unique<TDocEngineControl>(panel_, kBounds, std::move(state));
        return *host_;
    }
    static Steps StepsFrom(size_t first) {
        const auto& all = testctl::log().steps;
        return Steps(all.begin() + static_cast<long>(std::min(first, all.size())), all.end());
    }
    std::string FailureOf(bool save = false) {
        try {
            if (save)
                host_->Save("C:\\Out\\a.pdf", 0, 12, false);
            else
                host_->Load("C:\\Docs\\a.docx", 0, 13, false);
        } catch (const EngineError& e) {
            code_ = e.code();
            return e.what();
        }
        return "(no failure)";
    }

    vellumor::win::ComApartment apartment_;
    std::unique_ptr<testctl::Registration> registration_;
    HWND panel_ = nullptr;
    std::unique_ptr<TDocEngineControl> host_;
    long code_ = 0;
};

TEST_F(ControlHost, CreatesThenInitialisesInOrderWithThePersistedState) {
    std::vector<std::uint8_t> state(1014);
    for (size_t i = 0; i < state.size(); ++i) state[i] = static_cast<std::uint8_t>(i * 7);
    auto& host = Make(state);
    EXPECT_EQ(testctl::log().steps,
              (Steps{"CreateInstance(IOleObject)", "GetMiscStatus(1)", "SetClientSite(site)"}));
    EXPECT_FALSE(host.Initialized());

    host.CreateControl();
    EXPECT_EQ(StepsFrom(3), (Steps{"Load(1014 bytes)", "Advise(propertynotify)", "Advise(events)",
                                   "OnAmbientPropertyChange(-1)", "DoVerb(-5)"}));
    EXPECT_EQ(testctl::log().loadedState, std::vector<BYTE>(state.begin(), state.end()));
    EXPECT_TRUE(host.Initialized());

    // The ambient properties answer from the site, and the control sits in the panel.
    EXPECT_EQ(testctl::log().ambientUserModeAnswer, S_OK);
    EXPECT_EQ(testctl::log().ambientUserMode, VARIANT_TRUE);
    EXPECT_EQ(testctl::log().parentGiven, panel_);
    EXPECT_TRUE(EqualRect(&testctl::log().boundsGiven, &kBounds));
    EXPECT_TRUE(EqualRect(&testctl::log().contextPosition, &kBounds));
    EXPECT_TRUE(testctl::log().frameGiven);
    HWND window = host.ControlWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, testctl::log().window);
    EXPECT_EQ(GetParent(window), panel_);
    RECT placed{};
    GetWindowRect(window, &placed);
    MapWindowPoints(nullptr, panel_, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(EqualRect(&placed, &kBounds));

    host.CreateControl();  // once only
    EXPECT_EQ(testctl::log().steps.size(), 8u);
}

TEST_F(ControlHost, SiteComesAtInitialisationAndTheControlStartsNewWithoutState) {
    testctl::options().setClientSiteFirst = false;
    auto& host = Make();
    EXPECT_EQ(testctl::log().steps, (Steps{"CreateInstance(IOleObject)", "GetMiscStatus(1)"}));
    host.Load("C:\\Docs\\a.doc", 0, 9, false);  // the first call initialises the control
    EXPECT_EQ(StepsFrom(2), (Steps{"SetClientSite(site)", "InitNew", "Advise(propertynotify)",
                                   "Advise(events)", "OnAmbientPropertyChange(-1)", "DoVerb(-5)"}));
    EXPECT_EQ(testctl::log().calls.size(), 1u);
}

TEST_F(ControlHost, LoadAndSaveSendTheirArgumentsLateBoundThroughTheEngineInterface) {
    auto& host = Make();
    const std::string path = "C:\\Docs\\\xD0\xA0\xD0\xB5\xD0\xBF \xE6\x96\x87.docx";
    host.Load(path, 0, 13, false);
    host.Save("D:\\Output\\a.pdf", 0, 12, false);

    const auto& calls = testctl::log().calls;
    ASSERT_EQ(calls.size(), 2u);
    const std::vector<VARTYPE> types{VT_BOOL, VT_I4, VT_I4, VT_BSTR};
    for (const auto& call : calls) {
        EXPECT_EQ(call.through, "engine");
        EXPECT_TRUE(call.nullIid);
        EXPECT_EQ(call.lcid, 0u);
        EXPECT_EQ(call.flags, DISPATCH_METHOD);
        EXPECT_EQ(call.argCount, 4u);
        EXPECT_EQ(call.namedCount, 0u);
        EXPECT_FALSE(call.namedIds);
        EXPECT_EQ(call.types, types);
        EXPECT_EQ(call.reserved, 0);
        EXPECT_EQ(call.flag, VARIANT_FALSE);
        EXPECT_TRUE(call.resultGiven);
        EXPECT_TRUE(call.exceptionRecordCleared);
        EXPECT_FALSE(call.argErrGiven);
    }
    EXPECT_EQ(calls[0].id, 99);
    EXPECT_EQ(calls[0].path, L"C:\\Docs\\\x0420\x0435\x043f \x6587.docx");
    EXPECT_EQ(calls[0].format, 13);
    EXPECT_EQ(calls[1].id, 100);
    EXPECT_EQ(calls[1].path, L"D:\\Output\\a.pdf");
    EXPECT_EQ(calls[1].format, 12);
    // The second call reused the interface the first one took.
    EXPECT_EQ(testctl::log().engineQueries, 1);
}

TEST_F(ControlHost, ACallThatReturnsNormallySucceedsWhateverItsResultHolds) {
    auto& host = Make();
    testctl::options().resultValue = 42;
    EXPECT_EQ(host.Load("a.doc", 0, 9, false), 42);
    testctl::options().result = testctl::ResultKind::Text;
    EXPECT_NO_THROW(host.Save("a.pdf", 0, 12, false));
    testctl::options().result = testctl::ResultKind::Empty;
    EXPECT_EQ(host.Save("a.pdf", 0, 12, false), 0);
}

TEST_F(ControlHost, AFailureDescriptionLosesTrailingFullStopsBlanksAndLineBreaks) {
    Make();
    auto& o = testctl::options();
    o.invokeResult = DISP_E_EXCEPTION;
    o.scode = static_cast<SCODE>(0x800A1234);
    o.source = L"Engine";
    o.helpFile = L"engine.chm";
    o.helpContext = 17;

    o.description = L"Cannot open the document C:\\x.doc. . \r\n\t...";
    try {
        host_->Load("C:\\x.doc", 0, 9, false);
        ADD_FAILURE() << "no failure";
    } catch (const OleEngineError& e) {
        EXPECT_STREQ(e.what(), "Cannot open the document C:\\x.doc");
        EXPECT_EQ(static_cast<unsigned long>(e.code()), 0x800A1234u);
        EXPECT_EQ(e.source(), "Engine");
        EXPECT_EQ(e.helpFile(), "engine.chm");
        EXPECT_EQ(e.helpContext(), 17);
    }
    o.description = L"Disk full (\x00e9t\x00e9)!";
    EXPECT_EQ(FailureOf(true), "Disk full (\xC3\xA9t\xC3\xA9)!");
    o.description = L"  inner. text  ";
    EXPECT_EQ(FailureOf(), "  inner. text");
}

TEST_F(ControlHost, AnEmptyDescriptionGivesTheSystemTextForTheCode) {
    Make();
    auto& o = testctl::options();
    o.invokeResult = DISP_E_EXCEPTION;
    o.scode = static_cast<SCODE>(0x80070002);  // file not found
    const std::string fileNotFound = vellumor::win::SystemMessageText(static_cast<DWORD>(o.scode));
    EXPECT_FALSE(fileNotFound.empty());
    EXPECT_NE(fileNotFound.back(), '.');

    o.description = L" .\r\n.. \t";
    EXPECT_EQ(FailureOf(), fileNotFound);
    EXPECT_EQ(static_cast<unsigned long>(code_), 0x80070002u);
    o.noDescription = true;
    EXPECT_EQ(FailureOf(true), fileNotFound);

    // A code the system has no text for.
    o.scode = static_cast<SCODE>(0xA0771234);
    ASSERT_EQ(vellumor::win::SystemMessageText(static_cast<DWORD>(o.scode)), "");
    EXPECT_EQ(FailureOf(), "OLE error A0771234");
    EXPECT_EQ(static_cast<unsigned long>(code_), 0xA0771234u);

    // A record with no scode at all names the exception itself, not success.
    o.scode = 0;
    EXPECT_EQ(FailureOf(), ExpectedSystemText(DISP_E_EXCEPTION));
}

TEST_F(ControlHost, AnotherFailureCodeHasOnlyTheSystemText) {
    Make();
    auto& o = testctl::options();
    o.invokeResult = DISP_E_TYPEMISMATCH;
    EXPECT_EQ(FailureOf(), ExpectedSystemText(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(code_, static_cast<long>(DISP_E_TYPEMISMATCH));
    o.invokeResult = static_cast<HRESULT>(0xA0775678);
    EXPECT_EQ(FailureOf(true), "OLE error A0775678");

    // The engine keeps working after a failure, through the same interface.
    o.invokeResult = S_OK;
    EXPECT_NO_THROW(host_->Load("a.doc", 0, 9, false));
    EXPECT_EQ(testctl::log().engineQueries, 1);
}

TEST_F(ControlHost, EventsFiredDuringALoadAreDroppedAndChangeNothing) {
    auto& host = Make();
    testctl::options().resultValue = 5;
    EXPECT_EQ(host.Load("a.docx", 0, 13, false), 5);
    ASSERT_EQ(testctl::log().calls.size(), 1u);
    // error event, change event, an id outside the table, request-edit, changed
    EXPECT_EQ(testctl::log().calls[0].eventAnswers,
              (std::vector<HRESULT>{S_OK, S_OK, S_OK, S_OK, S_OK}));
    EXPECT_EQ(host.Save("a.pdf", 0, 12, false), 5);
}

TEST_F(ControlHost, AnEventReachesTheSlotOfItsDispatchId) {
    EXPECT_EQ(vellumor::DocEngineEventSlot(1), 0);
    EXPECT_EQ(vellumor::DocEngineEventSlot(17), 16);
    EXPECT_EQ(vellumor::DocEngineEventSlot(DISPID_ERROREVENT), 17);
    EXPECT_EQ(vellumor::DocEngineEventSlot(18), 18);
    EXPECT_EQ(vellumor::DocEngineEventSlot(61), 61);
    EXPECT_EQ(vellumor::DocEngineEventSlot(0), -1);
    EXPECT_EQ(vellumor::DocEngineEventSlot(62), -1);

    auto& host = Make();
    std::vector<std::string> seen;
    host.Events()[17] = [&](DISPPARAMS& params) {
        seen.push_back("error with " + std::to_string(params.cArgs) + " arguments");
        throw std::runtime_error("a handler that fails does not reach the control");
    };
    host.Events()[0] = [&](DISPPARAMS&) { seen.push_back("change"); };
    host.Load("a.docx", 0, 13, false);
    EXPECT_EQ(seen, (std::vector<std::string>{"error with 7 arguments", "change"}));
    EXPECT_EQ(testctl::log().calls[0].eventAnswers[0], S_OK);
}

TEST_F(ControlHost, ConnectionsTheControlDoesNotOfferAreSkipped) {
    testctl::options().offerConnectionPoints = false;
    Make().Load("a.doc", 0, 9, false);
    EXPECT_EQ(StepsFrom(3), (Steps{"InitNew", "OnAmbientPropertyChange(-1)", "DoVerb(-5)"}));
    host_.reset();
    EXPECT_EQ(StepsFrom(6), (Steps{"Close(1)", "SetClientSite(null)", "Destroyed"}));

    testctl::Reset();
    testctl::options().offerPropertyPoint = false;
    Make().Load("a.doc", 0, 9, false);
    EXPECT_EQ(StepsFrom(3),
              (Steps{"InitNew", "Advise(events)", "OnAmbientPropertyChange(-1)", "DoVerb(-5)"}));
}

TEST_F(ControlHost, ARefusedEngineInterfaceFailsEachCall) {
    testctl::options().offerEngineInterface = false;
    Make();
    EXPECT_EQ(FailureOf(), "Interface not supported");
    EXPECT_EQ(FailureOf(true), "Interface not supported");
    EXPECT_TRUE(testctl::log().calls.empty());
}

TEST_F(ControlHost, AClassThatIsNotRegisteredFailsWithTheSystemText) {
    try {
        TDocEngineControl host(panel_, kBounds, {}, kNoSuchClass);
        ADD_FAILURE() << "created";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.what(), ExpectedSystemText(REGDB_E_CLASSNOTREG));
        EXPECT_EQ(e.code(), static_cast<long>(REGDB_E_CLASSNOTREG));
    }
    testctl::options().createResult = E_OUTOFMEMORY;
    try {
        Make();
        ADD_FAILURE() << "created";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.what(), ExpectedSystemText(E_OUTOFMEMORY));
    }
}

TEST_F(ControlHost, AnActivationWithNoInPlaceObjectFails) {
    testctl::options().activateInPlace = false;
    auto& host = Make();
    try {
        host.CreateControl();
        ADD_FAILURE() << "activated";
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(), "OLE control activation failed");
    }
    EXPECT_EQ(FailureOf(), "OLE control activation failed");
    EXPECT_EQ(testctl::log().steps.back(), "DoVerb(-5)");  // not tried a second time
}

TEST_F(ControlHost, DestructionClosesDisconnectsWithdrawsTheSiteAndReleases) {
    auto& host = Make();
    host.Load("a.doc", 0, 9, false);
    HWND window = host.ControlWindow();
    ASSERT_TRUE(IsWindow(window));
    const size_t before = testctl::log().steps.size();
    host_.reset();
    EXPECT_EQ(StepsFrom(before), (Steps{"Close(1)", "Unadvise(events)", "Unadvise(propertynotify)",
                                        "SetClientSite(null)", "Destroyed"}));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ControlHost, AControlNeverInitialisedIsStillClosedAndReleased) {
    Make();
    host_.reset();
    EXPECT_EQ(StepsFrom(3), (Steps{"Close(1)", "SetClientSite(null)", "Destroyed"}));
}

// A stand-in for the worker client.
class FakeWorker : public vellumor::DocumentEngine {
  public:
    int Load(const std::string&, int, int, bool) override { return 1; }
    int Save(const std::string&, int, int, bool) override { return 2; }
};

class EngineChoice : public ControlHost {
  protected:
    vellumor::EngineSources Sources(const CLSID& classId, bool workerPresent) {
        vellumor::EngineSources sources;
        sources.controlRegistered = [&classId] {
            return vellumor::ControlClassRegistered(classId);
        };
        sources.control = [this, &classId]() -> std::unique_ptr<vellumor::DocumentEngine> {
            ++controlsMade_;
            return std::make_unique<TDocEngineControl>(panel_, kBounds, std::vector<std::uint8_t>{},
                                                       classId);
        };
        sources.worker = [this, workerPresent]() -> std::unique_ptr<vellumor::DocumentEngine> {
            ++workersAsked_;
            if (!workerPresent) return nullptr;
            return std::make_unique<FakeWorker>();
        };
        return sources;
    }
    int controlsMade_ = 0;
    int workersAsked_ = 0;
};

TEST_F(EngineChoice, TheRegisteredControlIsHostedAndNoWorkerIsStarted) {
    EXPECT_TRUE(vellumor::ControlClassRegistered(vellumor::kDocEngineClassId));
    auto engine = vellumor::ChooseEngine(Sources(vellumor::kDocEngineClassId, true));
    ASSERT_NE(dynamic_cast<TDocEngineControl*>(engine.get()), nullptr);
    EXPECT_EQ(workersAsked_, 0);
    EXPECT_NO_THROW(engine->Load("a.doc", 0, 9, false));
    EXPECT_EQ(testctl::log().calls.size(), 1u);
}

TEST_F(EngineChoice, WithoutTheControlTheWorkerBesideTheProgramIsUsed) {
    EXPECT_FALSE(vellumor::ControlClassRegistered(kNoSuchClass));
    auto engine = vellumor::ChooseEngine(Sources(kNoSuchClass, true));
    ASSERT_NE(dynamic_cast<FakeWorker*>(engine.get()), nullptr);
    EXPECT_EQ(controlsMade_, 0);
    EXPECT_EQ(workersAsked_, 1);
}

TEST_F(EngineChoice, WithNeitherTheMessageNamesWhatIsMissingAndHowToGetIt) {
    for (bool workerBuiltIn : {true, false}) {
        auto sources = Sources(kNoSuchClass, false);
        if (!workerBuiltIn) sources.worker = nullptr;
        try {
            vellumor::ChooseEngine(sources);
            ADD_FAILURE() << "an engine was chosen";
        } catch (const EngineError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message, vellumor::kNoEngineMessage);
            EXPECT_NE(message.find("LibreOffice"), std::string::npos);
            EXPECT_NE(message.find("https://www.libreoffice.org/download/"), std::string::npos);
            EXPECT_NE(message.find("vellumor_engine.py"), std::string::npos);
            EXPECT_NE(message.find("Vellumor.exe"), std::string::npos);
        }
    }
    EXPECT_EQ(controlsMade_, 0);
}

}  // namespace
