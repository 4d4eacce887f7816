#include "core/command_table.h"

#include <algorithm>

namespace core {

bool RuleAllows(EnableRule rule, const CommandState& s)
{
    switch (rule) {
    case EnableRule::Connected:
        return s.connected;
    case EnableRule::Always:
        return true;
    case EnableRule::Selected:
        return s.connected && s.windowSelected;
    case EnableRule::SelectedIdle:
        return s.connected && s.windowSelected && !s.uploadPending;
    case EnableRule::Idle:
        return s.connected && !s.uploadPending;
    case EnableRule::Paste:
        return s.connected && s.clipboardHoldsWindow && !s.uploadPending;
    case EnableRule::Version1500:
        return s.connected && s.playerVersion >= 0x1500;
    case EnableRule::Kind3:
        return s.connected && s.playerKind == 3;
    case EnableRule::Unlocked:
        return s.connected && !s.layoutLocked;
    case EnableRule::Reconnect:
        return s.rowHasAddressAndPort;
    }
    return false;
}

namespace {

using R = EnableRule;
constexpr unsigned M = kInMenu, Z = kInChineseMenu, T = kOnToolbar, V = kInCanvasMenu, L = kInLayoutMenu;

const CommandRow kTable[] = {
    {57600, R::Connected, "New Layout", "新建布局", M | T},
    {57601, R::Connected, "Open Layout", "打开布局", M | T},
    {57603, R::Connected, "Save Layout", "保存布局", M | T},
    {32770, R::Connected, "Save As Layout", "另存布局列表", M},
    {57635, R::SelectedIdle, "Cut", "剪切", T},
    {57634, R::Selected, "Copy", "复制", T},
    {57637, R::Paste, "Paste", "粘贴", T},
    {32789, R::Selected, "Mask Parameter Setting", "蒙版参数设置", V},
    {32771, R::SelectedIdle, "Close Object", "删除对象", M | V},
    {32772, R::Idle, "Close All Object", "删除所有对象", M},
    {32773, R::Idle, "Bring Forward", "上移图层", T},
    {32774, R::Idle, "Send Backward", "下移图层", T},
    {32775, R::Always, "Player Connection Settings", "播放器连接设置", M},
    {32776, R::Reconnect, "Connection", "重新连接", M},
    {32777, R::Connected, "Player Network Parameter Configuration", "播放器网络参数配置", M},
    {32778, R::Connected, "Output Resolution Setting", "输出分辨率设置", M},
    {32779, R::Connected, "System Setup", "融合带设置", M},
    {32781, R::Connected, "Video Source Settings", "视频源设置", M},
    {32794, R::Connected, "Video Picture Window Setting", "视频图片开窗设置", T},
    {32803, R::Connected, "Video Control", "视频控制", T},
    {32782, R::Connected, "Zoom Out", "缩小视图", M},
    {32783, R::Connected, "Zoom In", "放大视图", M},
    {32784, R::Connected, "Grid Settings", "网格设定", M},
    {32785, R::Connected, "Get Temperature", "查询温度", M},
    {32796, R::Connected, "Get USART Commands", "查询串口命令", M},
    {32786, R::Always, "Scan for Devices", "搜索播放器", M},
    {32787, R::Version1500, "Parameter Import and Export", "参数备份恢复", M},
    {32788, R::Kind3, "Protocol File", "协议文件", Z},
    {32791, R::Connected, "Get Product Information", "查询产品信息", M},
    {32793, R::Connected, "Cascading Settings", "级联设置", M},
    {32792, R::Connected, "Reboot The Player", "重新启动播放器", M},
    {32795, R::Connected, "Power", "开关机", M},
    {32797, R::Unlocked, "ImPort", "导入布局", L},
    {32798, R::Unlocked, "Del Layout", "删除布局", L},
    {32799, R::Connected, "Update", "更新布局", T},
    {32800, R::Always, "Batch Send File", "批量发送", Z},
    {32801, R::Connected, "QR Code", "二维码", M},
    {32802, R::Connected, "Interactive Setup", "游戏", T},
    {32804, R::Connected, "Layout Lock", "布局锁定", M},
    {32805, R::Connected, "Lidar", "雷达", T},
    {32806, R::Connected, "Picture Manager", "图库管理", M},
    {32807, R::Connected, "Picture Play Control", "图片播放控制", M},
    {32808, R::Connected, "Cloud Settings", "手机端设置", M},
    {32809, R::Always, "Upgrade", "升级", T},
    {32812, R::Connected, "VideoPlayControl", "视频播放控制", Z},
};

}  // namespace

std::span<const CommandRow> CommandTable()
{
    return kTable;
}

const CommandRow* FindCommandRow(int id)
{
    const auto it = std::find_if(std::begin(kTable), std::end(kTable), [id](const CommandRow& r) { return r.id == id; });
    return it == std::end(kTable) ? nullptr : &*it;
}

bool CommandEnabled(int id, const CommandState& state)
{
    const CommandRow* row = FindCommandRow(id);
    return row && RuleAllows(row->rule, state);
}

}  // namespace core
