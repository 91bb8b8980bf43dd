// Download requests forwarded to the host's backend.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "support.h"
#include "tpsubm.h"

namespace {

// What the backend saw, and what it answers.
struct Backend {
  int calls = 0;
  void *ctx = nullptr;
  void *first = nullptr;
  void *second = nullptr;
  void *third = nullptr;
  int32_t result = 0;
};

int32_t recording_backend(void *ctx, void *first, void *second, void *third) {
  Backend *b = static_cast<Backend *>(ctx);
  ++b->calls;
  b->ctx = ctx;
  b->first = first;
  b->second = second;
  b->third = third;
  return b->result;
}

// Leaves a message that a call emptying the message must remove.
void leave_message() {
  ASSERT_EQ(tpsubm_destroy(-1), TPSUBM_NO_SUCH_ID);
  ASSERT_STREQ(tpsubm_last_error(), "no such id");
}

class Downloads : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_test::reset_library(); }
  void TearDown() override { tpsubm_set_download_fn(nullptr, nullptr); }

  int a_ = 0, b_ = 0, c_ = 0;  // distinct addresses to pass as values
};

TEST_F(Downloads, RefusesOrPassesThroughUnchanged) {
  void *const a = &a_, *const b = &b_, *const c = &c_;
  struct Case {
    const char *name;
    bool registered;
    void *first, *second, *third;
    int32_t backend_result;
    int32_t result;
    bool called;
    const char *message;
  } const cases[] = {
      {"no backend", false, a, b, c, 0, TPSUBM_INVALID, false, "no download backend"},
      {"no backend is tested before nulls", false, a, nullptr, nullptr, 0, TPSUBM_INVALID, false,
       "no download backend"},
      {"second null", true, a, nullptr, c, 0, TPSUBM_INVALID, false, ""},
      {"third null", true, a, b, nullptr, 0, TPSUBM_INVALID, false, ""},
      {"second and third null", true, a, nullptr, nullptr, 0, TPSUBM_INVALID, false, ""},
      {"result 0", true, a, b, c, 0, 0, true, ""},
      {"result 5 from the backend", true, a, b, c, 5, 5, true, ""},
      {"result -3", true, a, b, c, -3, -3, true, ""},
      {"result INT32_MIN", true, a, b, c, INT32_MIN, INT32_MIN, true, ""},
      {"null first passed through", true, nullptr, b, c, 7, 7, true, ""},
      {"values kept in their places", true, c, a, b, 1, 1, true, ""},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    Backend backend;
    backend.result = k.backend_result;
    tpsubm_set_download_fn(k.registered ? recording_backend : nullptr, &backend);
    leave_message();

    EXPECT_EQ(tpsubm_download(k.first, k.second, k.third), k.result);
    EXPECT_STREQ(tpsubm_last_error(), k.message);
    EXPECT_EQ(backend.calls, k.called ? 1 : 0);
    if (k.called) {
      EXPECT_EQ(backend.ctx, &backend);
      EXPECT_EQ(backend.first, k.first);
      EXPECT_EQ(backend.second, k.second);
      EXPECT_EQ(backend.third, k.third);
    }
  }
}

TEST_F(Downloads, ClearKeepsTheBackend) {
  Backend backend;
  backend.result = 42;
  tpsubm_set_download_fn(recording_backend, &backend);
  tpsubm_clear();
  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), 42);
  EXPECT_EQ(backend.calls, 1);
}

TEST_F(Downloads, UnregisteringBringsBackTheRefusal) {
  Backend backend;
  tpsubm_set_download_fn(recording_backend, &backend);
  ASSERT_EQ(tpsubm_download(&a_, &b_, &c_), 0);

  tpsubm_set_download_fn(nullptr, &backend);
  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "no download backend");
  EXPECT_EQ(backend.calls, 1);
}

TEST_F(Downloads, ANewRegistrationReplacesBackendAndContext) {
  Backend old_backend, new_backend;
  new_backend.result = 9;
  tpsubm_set_download_fn(recording_backend, &old_backend);
  tpsubm_set_download_fn(recording_backend, &new_backend);
  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), 9);
  EXPECT_EQ(old_backend.calls, 0);
  EXPECT_EQ(new_backend.calls, 1);
}

// A backend that hands over to a successor from inside its call; the change
// takes effect at the next request.
struct HandOver {
  int calls = 0;
  Backend *successor = nullptr;
};

int32_t handing_over_backend(void *ctx, void *, void *, void *) {
  HandOver *h = static_cast<HandOver *>(ctx);
  ++h->calls;
  tpsubm_set_download_fn(recording_backend, h->successor);
  return 11;
}

TEST_F(Downloads, BackendReRegisteringFromInsideTakesEffectNextTime) {
  Backend successor;
  successor.result = 22;
  HandOver first{0, &successor};
  tpsubm_set_download_fn(handing_over_backend, &first);

  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), 11);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(successor.calls, 0);

  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), 22);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(successor.calls, 1);
  EXPECT_EQ(successor.ctx, &successor);
}

int32_t unregistering_backend(void *, void *, void *, void *) {
  tpsubm_set_download_fn(nullptr, nullptr);
  return 3;
}

TEST_F(Downloads, BackendRemovingItselfAnswersThisRequest) {
  tpsubm_set_download_fn(unregistering_backend, nullptr);
  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), 3);
  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "no download backend");
}

// The message is emptied before the call and left alone after it, so one
// that the backend's own calls leave survives.
int32_t failing_call_backend(void *, void *, void *, void *) {
  tpsubm_destroy(-1);
  return 0;
}

TEST_F(Downloads, MessageLeftByTheBackendSurvives) {
  tpsubm_set_download_fn(failing_call_backend, nullptr);
  EXPECT_EQ(tpsubm_download(&a_, &b_, &c_), 0);
  EXPECT_STREQ(tpsubm_last_error(), "no such id");
}

}  // namespace
