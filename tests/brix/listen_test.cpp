// Listening on the replication port and naming the peer.
#include "listen.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "test_support.h"

namespace {

using testing_support::TestSession;

sockaddr_storage ipv4(const char* text) {
  sockaddr_storage s{};
  sockaddr_in* a = reinterpret_cast<sockaddr_in*>(&s);
  a->sin_family = AF_INET;
  inet_pton(AF_INET, text, &a->sin_addr);
  return s;
}

sockaddr_storage ipv6(const char* text) {
  sockaddr_storage s{};
  sockaddr_in6* a = reinterpret_cast<sockaddr_in6*>(&s);
  a->sin6_family = AF_INET6;
  inet_pton(AF_INET6, text, &a->sin6_addr);
  return s;
}

const sockaddr* as_sockaddr(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr*>(&s);
}

TEST(AddressToString, ShowsIpv4DottedAndIpv6InBrackets) {
  EXPECT_STREQ(address_to_string(as_sockaddr(ipv4("192.0.2.7")), B_TRUE), "192.0.2.7");
  EXPECT_STREQ(address_to_string(as_sockaddr(ipv6("2001:db8::5")), B_TRUE), "[2001:db8::5]");
  EXPECT_STREQ(address_to_string(as_sockaddr(ipv6("::1")), B_FALSE), "[::1]");
}

TEST(AddressToString, MappedIpv4IsShownAsDottedQuadOnlyWhenAsked) {
  sockaddr_storage mapped = ipv6("::ffff:192.0.2.7");
  EXPECT_STREQ(address_to_string(as_sockaddr(mapped), B_TRUE), "192.0.2.7");
  EXPECT_STREQ(address_to_string(as_sockaddr(mapped), B_FALSE), "[::ffff:192.0.2.7]");
}

TEST(AddressToString, NullAddressGivesTheEmptyText) {
  address_to_string(as_sockaddr(ipv4("10.0.0.1")), B_TRUE);
  EXPECT_STREQ(address_to_string(nullptr, B_TRUE), "");
}

// Connects to the replication port on `host`, retrying until the listener is
// up; returns the connected socket or -1.
int connect_when_listening(int family, const char* host) {
  sockaddr_storage s = family == AF_INET ? ipv4(host) : ipv6(host);
  if (family == AF_INET) {
    reinterpret_cast<sockaddr_in*>(&s)->sin_port = htons(RPL_PORT);
  } else {
    reinterpret_cast<sockaddr_in6*>(&s)->sin6_port = htons(RPL_PORT);
  }
  socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  for (int attempt = 0; attempt < 200; attempt++) {
    int fd = socket(family, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&s), length) == 0) return fd;
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return -1;
}

struct ListenOutcome {
  bool_t ok;
  std::string out, err;
};

ListenOutcome listen_with_peer(TestSession& t, int family, const char* host) {
  int peer = -1;
  std::thread destination([&] { peer = connect_when_listening(family, host); });
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  bool_t ok = listen_for_connect(&t.s);
  ListenOutcome o{ok, testing::internal::GetCapturedStdout(),
                  testing::internal::GetCapturedStderr()};
  destination.join();
  if (peer >= 0) close(peer);
  return o;
}

void close_all(TestSession& t) {
  for (int* fd : {&t.s.listen_fd_inet6, &t.s.listen_fd_inet, &t.s.client_fd}) {
    if (*fd > 0) close(*fd);
    *fd = -1;
  }
}

TEST(Listen, Ipv4DestinationIsAcceptedOnTheDualStackSocket) {
  TestSession t;
  ListenOutcome o = listen_with_peer(t, AF_INET, "127.0.0.1");
  EXPECT_EQ(o.ok, B_TRUE);
  EXPECT_EQ(o.out, "Waiting for connection (inet6, inet)\nConnection accepted from 127.0.0.1\n");
  EXPECT_EQ(o.err, "Use archivist start command on secondary to create a relationship\n");
  EXPECT_GE(t.s.client_fd, 0);
  EXPECT_GE(t.s.listen_fd_inet6, 0);  // stays open until the clean-up
  EXPECT_EQ(t.s.listen_fd_inet, -1);
  close_all(t);
}

TEST(Listen, Ipv6DestinationIsShownInBracketsAndOtherCommandsGetNoHint) {
  for (rpl_Command cmd : {RPLCMD_RCQTREE, RPLCMD_ACRESTORE}) {
    TestSession t;
    t.s.cmd = cmd;
    ListenOutcome o = listen_with_peer(t, AF_INET6, "::1");
    EXPECT_EQ(o.ok, B_TRUE);
    EXPECT_EQ(o.out, "Waiting for connection (inet6, inet)\nConnection accepted from [::1]\n");
    EXPECT_EQ(o.err, "");
    close_all(t);
  }
}

TEST(Listen, PortTakenByAnotherProcessFailsBothFamilies) {
  int holder = socket(AF_INET6, SOCK_STREAM, 0);
  int zero = 0, one = 1;
  setsockopt(holder, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof(zero));
  // Connections of earlier tests may linger in TIME_WAIT; a listener still
  // keeps the port from every other socket.
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_storage any = ipv6("::");
  reinterpret_cast<sockaddr_in6*>(&any)->sin6_port = htons(RPL_PORT);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof(sockaddr_in6)), 0);
  ASSERT_EQ(listen(holder, 1), 0);

  TestSession t;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(listen_for_connect(&t.s), B_FALSE);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error in bind (inet6): Address already in use\n"
            "Error in bind (inet): Address already in use\n");
  EXPECT_EQ(t.s.listen_fd_inet6, -1);
  EXPECT_EQ(t.s.listen_fd_inet, -1);
  close(holder);
}

TEST(Listen, NullSessionDoesNothing) { EXPECT_EQ(listen_for_connect(nullptr), B_FALSE); }

}  // namespace
