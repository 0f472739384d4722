<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>MsgManager</name>
    <message>
        <source>%1 coupon</source>
        <translation>%1元优惠券</translation>
    </message>
    <message>
        <source>%1 days before</source>
        <translation>%1日前</translation>
    </message>
    <message>
        <source>Coupon will expire!</source>
        <translation>您的优惠券即将过期！</translation>
    </message>
    <message>
        <source>You have got a %1!</source>
        <translation>恭喜您获得了一张%1！</translation>
    </message>
    <message>
        <source>You have unused coupon!</source>
        <translation>您还有优惠券尚未使用！</translation>
    </message>
    <message>
        <source>after %1 days</source>
        <translation>%1日后</translation>
    </message>
    <message>
        <source>coupon_not_vip_last%1%2%3%4</source>
        <translation>您的LumaviewVIP会员已于&lt;b&gt;%1&lt;/b&gt;过期，且您的&lt;b&gt;%2&lt;/b&gt;将于&lt;b&gt;今日&lt;/b&gt;过期。过期后将无法享受续费VIP会员&quot;&lt;b&gt;满%3减%4&lt;/b&gt;&quot;的优惠，请尽快使用，不要浪费呦~&lt;br&gt;&lt;a href=&quot;#&quot;&gt;&gt;&gt;点此立即使用&lt;/a&gt;</translation>
    </message>
    <message>
        <source>coupon_not_vip_new%1%2%3%4</source>
        <translation>您的LumaviewVIP会员已于&lt;b&gt;%1&lt;/b&gt;过期。现赠送您一张&quot;&lt;b&gt;满%2减%3&lt;/b&gt;&quot;的优惠券，可用于VIP续费时满减抵扣，有效期至&lt;b&gt;%4&lt;/b&gt;，快去使用吧~&lt;br&gt;&lt;a href=&quot;#&quot;&gt;&gt;&gt;点此立即使用&lt;/a&gt;</translation>
    </message>
    <message>
        <source>coupon_not_vip_not_new%1%2%3%4</source>
        <translation>您的LumaviewVIP会员已于&lt;b&gt;%1&lt;/b&gt;过期。系统赠送您的&quot;&lt;b&gt;满%2减%3&lt;/b&gt;&quot;优惠券尚未使用，有效期至&lt;b&gt;%4&lt;/b&gt;，请及时使用享受优惠~&lt;br&gt;&lt;a href=&quot;#&quot;&gt;&gt;&gt;点此立即使用&lt;/a&gt;</translation>
    </message>
    <message>
        <source>coupon_vip_new%1%2%3%4</source>
        <translation>您的LumaviewVIP会员将于&lt;b&gt;%1&lt;/b&gt;到期。为了感谢您的支持，现赠送您一张&quot;&lt;b&gt;满%2减%3&lt;/b&gt;&quot;的优惠券，可用于VIP续费时满减抵扣，有效期至&lt;b&gt;%4&lt;/b&gt;，快去使用吧~&lt;br&gt;&lt;a href=&quot;#&quot;&gt;&gt;&gt;点此立即使用&lt;/a&gt;</translation>
    </message>
    <message>
        <source>coupon_vip_unused%1%2%3%4</source>
        <translation>您的LumaviewVIP会员将于&lt;b&gt;%1&lt;/b&gt;到期。系统赠送您的&quot;&lt;b&gt;满%2减%3&lt;/b&gt;&quot;优惠券尚未使用，有效期至&lt;b&gt;%4&lt;/b&gt;，请及时使用享受优惠~&lt;br&gt;&lt;a href=&quot;#&quot;&gt;&gt;&gt;点此立即使用&lt;/a&gt;</translation>
    </message>
    <message>
        <source>today(%1)</source>
        <translation>今日(%1)</translation>
    </message>
    <message>
        <source>yyyy-MM-dd</source>
        <translation>yyyy年MM月dd日</translation>
    </message>
</context>
<context>
    <name>VeltroCouponMsg</name>
    <message>
        <source>View my coupon</source>
        <translation>查看我的优惠券</translation>
    </message>
</context>
<context>
    <name>VeltroWidgetBase</name>
    <message>
        <source>Lumaview</source>
        <translation>Lumaview</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Detail</source>
        <translation>查看详情</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Please update to the newest version to read this message</source>
        <translation>您刚刚收到了一条消息，但是因为软件版本过低无法显示。请点击此段文字跳转到官网下载最新版本，安装后即可查看此类消息</translation>
    </message>
    <message>
        <source>You got a message</source>
        <translation>您收到了一条消息</translation>
    </message>
</context>
</TS>
