#pragma once

#include <QByteArray>

// Feeds as the photo-album service sends them.
inline const QByteArray userFeedSample = R"(<?xml version='1.0' encoding='UTF-8'?>
<feed xmlns='http://www.w3.org/2005/Atom' xmlns:openSearch='http://a9.com/-/&#115;pec/opensearch/1.1/' xmlns:exif='http://schemas.google.com/photos/exif/2007' xmlns:geo='http://www.w3.org/2003/01/geo/wgs84_pos#' xmlns:gml='http://www.opengis.net/gml' xmlns:georss='http://www.georss.org/georss' xmlns:gphoto='http://schemas.google.com/photos/2007' xmlns:media='http://search.yahoo.com/mrss/' xmlns:gd='http://schemas.google.com/g/2005' gd:etag='W/"user"'>
  <id>https://photos.example.test/data/feed/user/1234</id>
  <updated>2013-05-01T10:00:00.000Z</updated>
  <category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#user'/>
  <title>someone</title>
  <link rel='self' type='application/atom+xml' href='https://photos.example.test/data/feed/api/user/default?max-results=1000'/>
  <openSearch:totalResults>2</openSearch:totalResults>
  <gphoto:user>1234</gphoto:user>
  <gphoto:nickname>Some One</gphoto:nickname>
  <gphoto:quotalimit>16106127360</gphoto:quotalimit>
  <gphoto:quotacurrent>3221225472</gphoto:quotacurrent>
  <gphoto:maxPhotosPerAlbum>2000</gphoto:maxPhotosPerAlbum>
  <entry gd:etag='"album1"'>
    <id>https://photos.example.test/data/entry/user/1234/albumid/111</id>
    <published>2013-04-30T08:00:00.000Z</published>
    <category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#album'/>
    <title type='text'>Holiday</title>
    <summary type='text'>By the sea</summary>
    <link rel='http://schemas.google.com/g/2005#feed' type='application/atom+xml' href='https://photos.example.test/data/feed/api/user/1234/albumid/111'/>
    <gphoto:id>111</gphoto:id>
    <gphoto:access>private</gphoto:access>
    <gphoto:timestamp>1367308800000</gphoto:timestamp>
    <gphoto:numphotos>42</gphoto:numphotos>
    <gphoto:numphotosremaining>1958</gphoto:numphotosremaining>
    <gphoto:bytesUsed>3000000000</gphoto:bytesUsed>
    <gphoto:commentingEnabled>true</gphoto:commentingEnabled>
    <media:group>
      <media:content url='https://photos.example.test/cover.jpg' type='image/jpeg' medium='image'/>
      <media:thumbnail url='https://photos.example.test/s32/cover.jpg' height='32' width='32'/>
      <media:thumbnail url='https://photos.example.test/s64/cover.jpg' height='64' width='64'/>
      <media:thumbnail url='https://photos.example.test/s160/cover.jpg' height='160' width='160'/>
      <media:keywords> a, b,, c </media:keywords>
      <media:title type='plain'>Holiday</media:title>
    </media:group>
    <georss:where><gml:Point><gml:pos>45.256 -71.92</gml:pos></gml:Point></georss:where>
  </entry>
  <entry>
    <id>https://photos.example.test/data/entry/user/1234/albumid/222</id>
    <category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#album'/>
    <title>Empty</title>
    <gphoto:id>222</gphoto:id>
  </entry>
</feed>
)";

inline const QByteArray albumFeedSample = R"(<?xml version='1.0' encoding='UTF-8'?>
<feed xmlns='http://www.w3.org/2005/Atom' xmlns:exif='http://schemas.google.com/photos/exif/2007' xmlns:geo='http://www.w3.org/2003/01/geo/wgs84_pos#' xmlns:gphoto='http://schemas.google.com/photos/2007' xmlns:media='http://search.yahoo.com/mrss/' xmlns:gd='http://schemas.google.com/g/2005' xmlns:georss='http://www.georss.org/georss'>
  <id>https://photos.example.test/data/feed/user/1234/albumid/111</id>
  <category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#album'/>
  <title>Holiday</title>
  <gphoto:id>111</gphoto:id>
  <gphoto:numphotos>2</gphoto:numphotos>
  <entry>
    <id>https://photos.example.test/data/entry/user/1234/albumid/111/photoid/9</id>
    <published>2013-04-30T08:00:00.000Z</published>
    <category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#photo'/>
    <title>IMG_0009.JPG</title>
    <content type='image/jpeg' src='https://photos.example.test/IMG_0009.JPG'/>
    <link rel='self' type='application/atom+xml' href='https://photos.example.test/data/entry/9?kind=photo'/>
    <gphoto:id>9</gphoto:id>
    <gphoto:albumid>111</gphoto:albumid>
    <gphoto:width>12000</gphoto:width>
    <gphoto:height>9000</gphoto:height>
    <gphoto:size>4294967296</gphoto:size>
    <gphoto:commentingEnabled>false</gphoto:commentingEnabled>
    <exif:tags><exif:make>Camera Maker</exif:make><exif:model>Model 1</exif:model><exif:make>Second</exif:make><other:tag xmlns:other='urn:other'>x</other:tag></exif:tags>
    <media:group>
      <media:content url='https://photos.example.test/v.mp4' type='video/mp4' medium='video' fileSize='5000000000'/>
      <media:content url='https://photos.example.test/IMG_0009.JPG' type='image/jpeg' medium='image' isDefault='true'/>
      <media:thumbnail url='https://photos.example.test/s72/IMG_0009.JPG' height='54' width='72' time='1:02:03.5'/>
    </media:group>
    <georss:point>1.5 2.5</georss:point>
  </entry>
  <entry>
    <id>https://photos.example.test/data/entry/user/1234/albumid/111/photoid/10</id>
    <category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#photo'/>
    <title>IMG_0010.JPG</title>
    <gphoto:id>9</gphoto:id>
    <geo:Point><geo:lat>10.25</geo:lat><geo:long>-3.5</geo:long></geo:Point>
  </entry>
</feed>
)";
