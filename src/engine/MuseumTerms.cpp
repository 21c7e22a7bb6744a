#include "engine/MuseumTerms.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace engine {
namespace {

// General vocabulary of Chinese museum catalogues, grouped as a cataloguer would.
const char* const kVesselTypes[] = {
    "鼎",   "方鼎", "鬲",     "甗",   "簋", "簠",   "盨", "敦", "豆",   "铺",   "尊",   "方尊", "觥", "卣",
    "方彝", "彝",   "罍",     "瓿",   "壶", "方壶", "钫", "缶", "爵",   "角",   "斝",   "觚",   "觯", "盉",
    "盘",   "匜",   "鉴",     "盂",   "鍪", "釜",   "甑", "钟", "编钟", "镈",   "钲",   "铙",   "铎", "鼓",
    "錞于", "戈",   "矛",     "戟",   "钺", "剑",   "刀", "镞", "弩机", "虎符", "镜",   "铜镜", "灯", "宫灯",
    "炉",   "熏炉", "博山炉", "带钩", "印", "玺",   "权", "量", "钱",   "鐎斗", "温鼎", "禁",   "俎", "勺",
    "匕",   "斗",   "箕",     "铲",   "犁", "镰",   "斧", "锛", "凿",   "车軎", "衔",   "镳"};
const char* const kJadeTypes[] = {"璧",   "琮",   "圭",   "璋",     "牙璋",   "璜",       "琥",   "珩",
                                  "玦",   "瑗",   "环",   "佩",     "玉佩",   "组佩",     "玉衣", "金缕玉衣",
                                  "蝉",   "玉蝉", "璇玑", "柄形器", "冠状器", "三叉形器", "玉人", "玉龙",
                                  "猪龙", "勒子", "瑁",   "琀",     "握",     "玉琮",     "玉璧", "玉璜",
                                  "玉钺", "剑首", "剑璏", "剑珌",   "韘",     "觿",       "扳指", "玉带",
                                  "带板", "如意", "山子", "玉璋",   "玉圭"};
const char* const kCeramicShapes[] = {
    "瓶",     "梅瓶",   "玉壶春瓶", "胆瓶",   "天球瓶", "葫芦瓶", "蒜头瓶", "赏瓶", "橄榄瓶", "净瓶",
    "军持",   "罐",     "将军罐",   "盖罐",   "壶",     "执壶",   "注子",   "扁壶", "鸡首壶", "碗",
    "盘",     "碟",     "杯",       "高足杯", "压手杯", "鸡缸杯", "盏",     "洗",   "笔洗",   "香炉",
    "枕",     "瓷枕",   "盒",       "粉盒",   "砚",     "水盂",   "笔筒",   "盖碗", "钵",     "瓮",
    "缸",     "盆",     "彩陶盆",   "瓮棺",   "尖底瓶", "盖盒",   "渣斗",   "唾壶", "灯盏",   "花觚",
    "贯耳瓶", "凤尾尊", "观音尊",   "棒槌瓶", "转心瓶", "套瓶",   "提梁壶", "盖碗", "茶壶",   "茶盏",
    "花盆",   "奁",     "樽",       "耳杯",   "卮",     "案",     "几",     "屏风", "镇",     "砚台",
    "俑",     "陶俑",   "木俑",     "骑马俑", "文吏俑", "武士俑", "侍女俑", "乐俑", "说唱俑", "镇墓兽",
    "骆驼",   "马",     "鞍马",     "模型",   "陶楼",   "仓",     "井",     "灶"};
const char* const kMaterials[] = {
    "青铜", "铜",   "金",   "银",   "鎏金", "错金",   "错银",   "错金银", "铜鎏金", "玉",    "白玉", "青玉",
    "碧玉", "黄玉", "墨玉", "水晶", "玛瑙", "琥珀",   "绿松石", "琉璃",   "玻璃",   "瓷",    "陶",   "彩陶",
    "黑陶", "灰陶", "红陶", "白陶", "硬陶", "釉陶",   "原始瓷", "紫砂",   "漆",     "漆木",  "木",   "竹",
    "象牙", "牙",   "骨",   "角",   "犀角", "石",     "石雕",   "丝",     "绢",     "纸",    "帛",   "纸本",
    "绢本", "铁",   "锡",   "铅",   "珐琅", "景泰蓝", "螺钿",   "剔红",   "剔犀",   "雕漆",  "彩绘", "描金",
    "嵌",   "镶嵌", "鎏银", "贴金", "泥塑", "砖",     "瓦",     "瓦当",   "画像石", "画像砖"};
const char* const kGlazesAndKilns[] = {
    "青花",   "釉里红", "粉彩",     "五彩", "斗彩",     "珐琅彩", "素三彩", "三彩",   "唐三彩", "青釉",
    "白釉",   "黑釉",   "黄釉",     "绿釉", "红釉",     "酱釉",   "蓝釉",   "霁蓝釉", "霁红",   "祭红",
    "郎窑红", "豇豆红", "茶叶末釉", "窑变", "钧釉",     "天青釉", "影青",   "青白釉", "豆青",   "豆青釉",
    "冬青",   "粉青",   "梅子青",   "秘色", "甜白",     "哥窑",   "官窑",   "汝窑",   "定窑",   "钧窑",
    "耀州窑", "龙泉窑", "磁州窑",   "建窑", "景德镇窑", "长沙窑", "越窑",   "邢窑",   "吉州窑", "德化窑",
    "宜兴窑", "青瓷",   "白瓷",     "黑瓷", "彩瓷",     "青花瓷", "釉上彩", "釉下彩", "低温釉", "孔雀绿釉",
    "胭脂红", "金彩",   "矾红",     "墨彩", "浅绛彩",   "广彩",   "红绿彩", "黄地",   "白地",   "蓝地"};
const char* const kMotifs[] = {
    "纹",         "饕餮纹",     "兽面纹",     "云雷纹", "雷纹",       "夔纹",   "夔龙纹",   "夔凤纹",
    "蟠螭纹",     "蟠虺纹",     "窃曲纹",     "重环纹", "环带纹",     "瓦纹",   "弦纹",     "乳钉纹",
    "涡纹",       "鸟纹",       "凤鸟纹",     "凤纹",   "蝉纹",       "鱼纹",   "龙纹",     "云龙纹",
    "螭龙纹",     "螭纹",       "谷纹",       "蒲纹",   "云纹",       "卷云纹", "勾连云纹", "缠枝莲纹",
    "缠枝花卉纹", "缠枝牡丹纹", "缠枝菊纹",   "缠枝纹", "莲瓣纹",     "莲花纹", "莲纹",     "折枝花纹",
    "折枝花果纹", "花卉纹",     "花鸟纹",     "牡丹纹", "菊纹",       "梅纹",   "竹纹",     "松竹梅",
    "岁寒三友",   "婴戏图",     "婴戏纹",     "人物图", "人物纹",     "山水",   "山水图",   "山水人物图",
    "鱼藻纹",     "海水纹",     "海水江崖纹", "八宝纹", "八吉祥纹",   "卍字纹", "回纹",     "几何纹",
    "网格纹",     "网纹",       "锯齿纹",     "水波纹", "方格纹",     "绳纹",   "篮纹",     "印纹",
    "刻花",       "划花",       "印花",       "剔花",   "贴花",       "堆塑",   "镂空",     "凤穿牡丹纹",
    "龙凤纹",     "瑞兽纹",     "瑞兽",       "葡萄纹", "海兽葡萄纹", "狩猎纹", "宴乐纹",   "水陆攻战纹",
    "羽状纹",     "鳞纹",       "重鳞纹",     "直棱纹", "蕉叶纹",     "象纹",   "虎纹",     "鹿纹",
    "狮纹",       "团花纹",     "宝相花纹",   "卷草纹", "忍冬纹",     "联珠纹", "人面鱼纹", "蛙纹",
    "旋涡纹",     "花瓣纹",     "三角纹",     "菱形纹", "素面",       "蝉形",   "龙形",     "虎形",
    "鸟形",       "兽形",       "人形",       "兽首",   "龙首",       "凤首",   "鸭形",     "牛形",
    "象形",       "羊首",       "四羊",       "双耳",   "贯耳",       "铺首",   "衔环",     "提梁",
    "盖",         "带盖",       "方",         "圆",     "高足",       "四足",   "三足",     "圈足",
    "直口",       "侈口",       "长颈",       "鼓腹",   "折肩",       "铭文",   "刻铭",     "款",
    "乳丁纹"};
const char* const kPeriods[] = {"旧石器时代",
                                "新石器时代",
                                "夏",
                                "商",
                                "商代",
                                "西周",
                                "东周",
                                "周",
                                "春秋",
                                "战国",
                                "秦",
                                "西汉",
                                "东汉",
                                "新莽",
                                "汉",
                                "汉代",
                                "三国",
                                "曹魏",
                                "蜀汉",
                                "东吴",
                                "西晋",
                                "东晋",
                                "晋",
                                "十六国",
                                "南北朝",
                                "北魏",
                                "东魏",
                                "西魏",
                                "北齐",
                                "北周",
                                "南朝",
                                "北朝",
                                "隋",
                                "唐",
                                "唐代",
                                "五代",
                                "北宋",
                                "南宋",
                                "宋",
                                "辽",
                                "西夏",
                                "金",
                                "元",
                                "明",
                                "清",
                                "民国",
                                "早期",
                                "中期",
                                "晚期",
                                "洪武",
                                "永乐",
                                "洪熙",
                                "宣德",
                                "正统",
                                "景泰",
                                "天顺",
                                "成化",
                                "弘治",
                                "正德",
                                "嘉靖",
                                "隆庆",
                                "万历",
                                "泰昌",
                                "天启",
                                "崇祯",
                                "顺治",
                                "康熙",
                                "雍正",
                                "乾隆",
                                "嘉庆",
                                "道光",
                                "咸丰",
                                "同治",
                                "光绪",
                                "宣统",
                                "开元",
                                "天宝",
                                "贞观",
                                "仰韶文化",
                                "龙山文化",
                                "良渚文化",
                                "红山文化",
                                "大汶口文化",
                                "马家窑文化",
                                "齐家文化",
                                "二里头文化",
                                "二里岗文化",
                                "河姆渡文化",
                                "凌家滩文化",
                                "石家河文化",
                                "崧泽文化",
                                "马家浜文化",
                                "大溪文化",
                                "屈家岭文化",
                                "三星堆文化",
                                "金沙文化",
                                "夏家店下层文化",
                                "年制",
                                "年款"};

// Words of a card's source line: find-spots, holders and acquisitions, the provinces, and sites
// every catalogue names.
const char* const kSourceWords[] = {
    "出土",   "出土于",   "遗址",       "墓地",           "墓葬",     "墓群",     "窖藏",     "窑址",
    "城址",   "故城",     "古城",       "地宫",           "塔基",     "沉船",     "博物馆",   "博物院",
    "纪念馆", "研究所",   "考古研究所", "文物考古研究所", "文物商店", "征集",     "捐赠",     "捐献",
    "旧藏",   "移交",     "调拨",       "拨交",           "采集",     "购藏",     "先生",     "女士",
    "北京",   "天津",     "上海",       "重庆",           "河北",     "山西",     "辽宁",     "吉林",
    "黑龙江", "江苏",     "浙江",       "安徽",           "福建",     "江西",     "山东",     "河南",
    "湖北",   "湖南",     "广东",       "海南",           "四川",     "贵州",     "云南",     "陕西",
    "甘肃",   "青海",     "台湾",       "内蒙古",         "广西",     "西藏",     "宁夏",     "新疆",
    "香港",   "澳门",     "殷墟",       "妇好墓",         "曾侯乙墓", "马王堆",   "三星堆",   "金沙遗址",
    "二里头", "法门寺",   "海昏侯",     "秦始皇陵",       "兵马俑",   "南越王墓", "中山王墓", "满城汉墓",
    "何家村", "虢国墓地", "晋侯墓地",   "良渚",           "牛河梁",   "陶寺",     "石峁",     "盘龙城",
    "大葆台", "定陵",     "雷台"};

std::vector<QString> sortedTerms() {
    std::vector<QString> terms;
    auto addAll = [&](const auto& list) {
        for (const char* term : list)
            terms.push_back(QString::fromUtf8(term));
    };
    addAll(kVesselTypes);
    addAll(kJadeTypes);
    addAll(kCeramicShapes);
    addAll(kMaterials);
    addAll(kGlazesAndKilns);
    addAll(kMotifs);
    addAll(kPeriods);
    addAll(kSourceWords);
    std::sort(terms.begin(), terms.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
    return terms;
}

} // namespace

const QStringList& museumTerms() {
    static const QStringList terms = [] {
        QStringList list;
        for (const QString& term : sortedTerms())
            list << term;
        return list;
    }();
    return terms;
}

namespace {

#include "engine/LookAlikes.inc"

/// The lexicon characters each character may have been read for.
const std::multimap<QChar, QChar>& lookAlikes() {
    static const std::multimap<QChar, QChar> pairs = [] {
        std::multimap<QChar, QChar> map;
        const QString table = QString::fromUtf16(kLookAlikes);
        for (const QString& pair : table.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            if (pair.size() == 2) map.emplace(pair[0], pair[1]);
        return map;
    }();
    return pairs;
}

/// The lexicon's terms, by index in lexicon order, that a text may hold from a position whose
/// character is `read`: those that begin with it, or with a character it may have been read for.
/// The others can neither match there nor be mended into, so a line is compared with a few terms
/// at each position instead of the whole lexicon.
const std::vector<qsizetype>& termsThatMayStartWith(QChar read) {
    static const std::unordered_map<char16_t, std::vector<qsizetype>> index = [] {
        std::multimap<QChar, QChar> readFor; // meant → read
        for (const auto& [r, meant] : lookAlikes())
            readFor.emplace(meant, r);
        std::unordered_map<char16_t, std::vector<qsizetype>> map;
        const auto add = [&](QChar c, qsizetype term) {
            auto& list = map[c.unicode()];
            if (list.empty() || list.back() != term) list.push_back(term);
        };
        const QStringList& terms = museumTerms();
        for (qsizetype t = 0; t < terms.size(); ++t) {
            if (terms[t].isEmpty()) continue;
            add(terms[t][0], t);
            const auto [first, last] = readFor.equal_range(terms[t][0]);
            for (auto it = first; it != last; ++it)
                add(it->second, t);
        }
        return map;
    }();
    static const std::vector<qsizetype> none;
    const auto found = index.find(read.unicode());
    return found == index.end() ? none : found->second;
}

/// Characters that occur in some term: read alone they are taken as written.
bool inSomeTerm(QChar c) {
    static const QString all = museumTerms().join(QString());
    return all.contains(c);
}

} // namespace

bool mayBeReadFor(QChar read, QChar meant) {
    const auto [first, last] = lookAlikes().equal_range(read);
    return std::any_of(first, last, [&](const auto& pair) { return pair.second == meant; });
}

bool coveredByTerms(const QString& text) {
    // Cut points reachable from the start by whole terms.
    std::vector<bool> reach(size_t(text.size()) + 1, false);
    reach[0] = true;
    const QStringList& terms = museumTerms();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!reach[size_t(i)]) continue;
        for (const qsizetype t : termsThatMayStartWith(text[i]))
            if (QStringView(text).mid(i, terms[t].size()) == terms[t])
                reach[size_t(i + terms[t].size())] = true;
    }
    return !text.isEmpty() && reach.back();
}

QString correctTerms(const QString& text) {
    return correctTerms(text, TermContext::name);
}

QString correctTerms(const QString& text, TermContext context) {
    const QStringView view(text);
    const QStringList& terms = museumTerms();
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype exact = 0;
        QString corrected;
        // In lexicon order (longest first), as the first of the longest fitting terms is taken.
        for (const qsizetype t : termsThatMayStartWith(text[i])) {
            const QString& term = terms[t];
            if (i + term.size() > text.size()) continue;
            const QStringView window = view.mid(i, term.size());
            if (window == term) {
                exact = std::max(exact, term.size());
                continue;
            }
            if (term.size() <= exact || term.size() <= corrected.size()) continue;
            // Every difference must be a known misreading, and at most half the term may differ.
            int differences = 0;
            bool fits = true;
            for (qsizetype k = 0; k < term.size() && fits; ++k)
                if (window[k] != term[k]) {
                    ++differences;
                    fits = mayBeReadFor(window[k], term[k]);
                }
            if (!fits || differences * 2 > std::max<qsizetype>(2, term.size())) continue;
            // A lone character is mended only as the name's last word (the object's type), and
            // not when it belongs to other terms itself.
            if (term.size() == 1 &&
                (context != TermContext::name || i + 1 != text.size() || inSomeTerm(window[0])))
                continue;
            corrected = term;
        }
        if (corrected.size() > exact) {
            out += corrected;
            i += corrected.size();
        } else if (exact > 0) {
            out += view.mid(i, exact);
            i += exact;
        } else {
            out += text[i++];
        }
    }
    return out;
}

QString completeTerms(const QString& text, const std::vector<NearlyRead>& nearlyRead) {
    // Terms of two or more characters by the characters in them.
    static const std::unordered_map<char16_t, std::vector<qsizetype>> containing = [] {
        std::unordered_map<char16_t, std::vector<qsizetype>> map;
        const QStringList& terms = museumTerms();
        for (qsizetype t = 0; t < terms.size(); ++t)
            if (terms[t].size() >= 2)
                for (const QChar c : terms[t])
                    if (auto& list = map[c.unicode()]; list.empty() || list.back() != t) list.push_back(t);
        return map;
    }();
    // Whether `c` put in at `at` completes a term.
    const auto completes = [](const QString& out, qsizetype at, QChar c) {
        // The runner-up of a gap beside the same character is that character read once.
        if ((at > 0 && out[at - 1] == c) || (at < out.size() && out[at] == c)) return false;
        const auto found = containing.find(c.unicode());
        if (found == containing.end()) return false;
        const QString with = out.left(at) + c + out.mid(at);
        return std::any_of(found->second.begin(), found->second.end(), [&](qsizetype t) {
            const QString& term = museumTerms()[t];
            for (qsizetype k = 0; k < term.size(); ++k)
                if (term[k] == c && at - k >= 0 && QStringView(with).mid(at - k, term.size()) == term)
                    return true;
            return false;
        });
    };
    QString out = text;
    // From the end, so that the places still to come stay where they were read.
    for (auto it = nearlyRead.rbegin(); it != nearlyRead.rend(); ++it) {
        if (it->character.size() != 1 || it->at < 0 || it->at > text.size()) continue;
        const QChar c = it->character[0];
        // The character itself, else one it is known to be read for (钱 nearly read where 钺 was
        // printed).
        std::optional<QChar> put;
        if (completes(out, it->at, c)) put = c;
        const auto [first, last] = lookAlikes().equal_range(c);
        for (auto pair = first; pair != last && !put; ++pair)
            if (completes(out, it->at, pair->second)) put = pair->second;
        if (put) out.insert(it->at, *put);
    }
    return out;
}

} // namespace engine
