// SPDX-License-Identifier: MIT
// Fixture of a client's tests against one stand-in server in a fresh sandbox: the test
// scripts its replies and reads what it received.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox.h"
#include "server_log.h"

class StandInTest : public testing::Test {
 protected:
  explicit StandInTest(std::string server) : server_name_(std::move(server)) {}

  void startServer() { server_ = board_.startServer(server_name_); }
  // "key=value" lines that the stand-in applies to requests of `id`.
  void reply(int id, const std::string &plan) const {
    board_.setControl(server_name_, "reply." + std::to_string(id), plan);
  }
  std::vector<kvsim::Request> received() const { return kvsim::requestsTo(board_, server_name_); }
  kvsim::Request last() const {
    auto all = received();
    return all.empty() ? kvsim::Request{} : all.back();
  }

  kvsim::Sandbox board_;
  pid_t server_ = 0;

 private:
  std::string server_name_;
};
