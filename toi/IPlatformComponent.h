// Life-cycle calls the platform service makes on a registered component.
#pragma once

class IPlatformComponent {
 public:
  virtual ~IPlatformComponent() = default;
  virtual void OnLoad() = 0;
  virtual void OnUnload(bool flag) = 0;
  virtual void OnStandbyChanged() = 0;
  virtual void Ping() = 0;

 protected:
  IPlatformComponent() = default;
  IPlatformComponent(const IPlatformComponent&) = delete;
  IPlatformComponent& operator=(const IPlatformComponent&) = delete;
};
