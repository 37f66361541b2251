// The known version's places and the steps that undo it, on their own, as the console scanner
// uses them: what each step reports back, since there is no report list to read it from.

#include <gtest/gtest.h>

#include <vector>

#include "testing/scripted/ScriptedSystem.h"
#include "trojan/RemovalSteps.h"

namespace lk {
namespace {

constexpr char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\services";
constexpr char kLibrary[] = "C:\\WINDOWS\\system32\\mfc42ul.dll";

class RemovalStepsOnTheirOwn : public ::testing::Test {
 protected:
  ScriptedSystem system;
  RemovalSteps steps{system, system};
};

TEST_F(RemovalStepsOnTheirOwn, AppInitTellsWhatItWasAndWhatItBecame) {
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("a.dll;MFC42UL.dll b.dll"));
  auto registry = system.ConnectRegistry(RegistryView::Default);
  const auto change = steps.UnregisterLibrary(*registry);
  ASSERT_TRUE(change.has_value());
  EXPECT_EQ(change->before, "a.dll;MFC42UL.dll b.dll");
  EXPECT_EQ(change->after, "a.dll;b.dll");
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("a.dll;b.dll"));
  // Nothing left to change: no change reported, nothing written.
  const auto logged = system.Log().size();
  EXPECT_FALSE(steps.UnregisterLibrary(*registry).has_value());
  EXPECT_EQ(system.Log().size(), logged);
}

TEST_F(RemovalStepsOnTheirOwn, AppInitWithoutKeyOrValueChangesNothing) {
  auto registry = system.ConnectRegistry(RegistryView::Default);
  EXPECT_FALSE(steps.UnregisterLibrary(*registry).has_value());
  system.AddKey(kWindowsKey);
  EXPECT_FALSE(steps.UnregisterLibrary(*registry).has_value());
  EXPECT_FALSE(system.Value(kWindowsKey, "AppInit_DLLs").has_value());
}

TEST_F(RemovalStepsOnTheirOwn, AFileInUseGoesAtRestartAfterTheCallerWasTold) {
  system.AddFile(kLibrary, /*inUse=*/true);
  std::vector<std::string> pendingWhenTold;
  const auto result =
      steps.DeleteFileOrAtRestart(kLibrary, [&] { pendingWhenTold = system.PendingDeletions(); });
  EXPECT_EQ(result, RemovalSteps::FileDeletion::AtRestart);
  EXPECT_TRUE(pendingWhenTold.empty()) << "told before the request";
  EXPECT_EQ(system.PendingDeletions(), std::vector<std::string>{kLibrary});

  system.SetFileInUse(kLibrary, false);
  EXPECT_EQ(steps.DeleteFileOrAtRestart(kLibrary), RemovalSteps::FileDeletion::Deleted);
  EXPECT_FALSE(system.FileExists(kLibrary));
}

TEST_F(RemovalStepsOnTheirOwn, TheServiceIsStoppedThenDeletedAndTheStagesAreTold) {
  system.AddService("winsys32", {});
  std::vector<RemovalSteps::ServiceStage> stages;
  const auto removal = steps.StopAndDeleteService(
      "winsys32", [&](RemovalSteps::ServiceStage stage) { stages.push_back(stage); });
  EXPECT_TRUE(removal.gone);
  EXPECT_EQ(stages, (std::vector{RemovalSteps::ServiceStage::Stopping,
                                 RemovalSteps::ServiceStage::Deleting}));
  EXPECT_FALSE(system.ServiceExists("winsys32"));
  EXPECT_EQ(system.OpenServiceHandleCount(), 0);
}

TEST_F(RemovalStepsOnTheirOwn, AFailedServiceRemovalCarriesTheSystemsError) {
  system.AddService("winsys32", {ServiceState::Stopped, true, {}, 0, 5});
  const auto refused = steps.StopAndDeleteService("winsys32");
  EXPECT_FALSE(refused.gone);
  EXPECT_EQ(refused.error, 5u);

  // A service that does not exist counts as gone.
  const auto missing = steps.StopAndDeleteService("nosuch");
  EXPECT_TRUE(missing.gone);
  EXPECT_EQ(system.OpenServiceHandleCount(), 0);
}

TEST_F(RemovalStepsOnTheirOwn, TheServiceRemovalTellsHowFarItGot) {
  ServiceScript refusing;
  refusing.acceptsStop = false;
  system.AddService("refusing", refusing);
  const auto deletedAnyway = steps.StopAndDeleteService("refusing");
  EXPECT_TRUE(deletedAnyway.opened);
  EXPECT_EQ(deletedAnyway.stateFound, ServiceState::Running);
  EXPECT_TRUE(deletedAnyway.stopSent);
  EXPECT_EQ(deletedAnyway.stopError, 1052u);
  EXPECT_FALSE(deletedAnyway.stateAfterStop.has_value());
  EXPECT_TRUE(deletedAnyway.deleteTried);
  EXPECT_TRUE(deletedAnyway.gone);

  ServiceScript running;
  running.statesAfterStop = {ServiceState::Running};
  system.AddService("running", running);
  const auto keptRunning = steps.StopAndDeleteService("running");
  EXPECT_EQ(keptRunning.stopError, 0u);
  EXPECT_EQ(keptRunning.stateAfterStop, ServiceState::Running);
  EXPECT_FALSE(keptRunning.deleteTried);
  EXPECT_FALSE(keptRunning.gone);

  ServiceScript stopped;
  stopped.state = ServiceState::Stopped;
  system.AddService("stopped", stopped);
  const auto noStop = steps.StopAndDeleteService("stopped");
  EXPECT_FALSE(noStop.stopSent);
  EXPECT_TRUE(noStop.deleteTried);

  const auto unknown = steps.StopAndDeleteService("nosuch");
  EXPECT_FALSE(unknown.opened);
  EXPECT_FALSE(unknown.stateFound.has_value());
}

TEST_F(RemovalStepsOnTheirOwn, TheServiceKeyGoesWithItsSubtree) {
  system.AddKey(std::string(kServicesKey) + "\\winsys32\\Enum");
  auto registry = system.ConnectRegistry(RegistryView::Default);
  EXPECT_TRUE(steps.DeleteServiceKey(*registry));
  EXPECT_FALSE(system.KeyExists(std::string(kServicesKey) + "\\winsys32"));
  EXPECT_TRUE(system.KeyExists(kServicesKey));
  EXPECT_FALSE(steps.DeleteServiceKey(*registry)) << "nothing left to delete";
}

}  // namespace
}  // namespace lk
