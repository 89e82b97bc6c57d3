#pragma once
// One pseudo-terminal standing in for a modem's serial port. The simulator owns the
// master side; the station opens the slave by path. A slave descriptor of our own is
// held open so that the station closing its end never hangs up the master; closing
// the master is what a pulled USB modem looks like from the station's side.
#include <string>

namespace kv::modemsim {

class PtyLink {
public:
    PtyLink() = default;
    ~PtyLink() { Close(); }
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Opens a new pseudo-terminal with a raw slave; false and `error` on failure.
    bool Open(std::string& error);
    void Close();
    bool IsOpen() const { return m_master >= 0; }
    int MasterFd() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slaveKeeper = -1;
    std::string m_slavePath;
};

} // namespace kv::modemsim
