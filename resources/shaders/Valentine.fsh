// Pink-and-red duotone inside a soft heart: luminance runs from deep wine through red to
// rose pink, and outside the heart the picture sinks into a dark crimson veil.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;
uniform vec2 u_scale;

varying vec2 v_texCoord;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);
const vec3 kWine = vec3(0.38, 0.02, 0.10);
const vec3 kRed = vec3(0.90, 0.14, 0.30);
const vec3 kRose = vec3(1.0, 0.80, 0.88);
const vec3 kVeil = vec3(0.30, 0.0, 0.07);
// The heart is a square standing on one corner with a disc on each upper side; this is the
// square's side in screen widths, which makes the heart 0.85 widths wide.
const float kSide = 0.5;

void main() {
    float luma = dot(texture2D(s_texture, v_texCoord).rgb, kLuma);
    vec3 tone = mix(kWine, kRed, clamp(luma * 2.0, 0.0, 1.0));
    tone = mix(tone, kRose, clamp(luma * 2.0 - 1.0, 0.0, 1.0));

    // Screen position in widths: distance from the vertical centre line, and height above a
    // point just below the middle, which centres the heart on the screen.
    vec2 p = (v_texCoord.yx - 0.5) * u_scale;
    vec2 h = vec2(abs(p.x), 0.04 - p.y);
    // Signed distances (negative inside) to the square, turned by 45 degrees, and to a lobe.
    vec2 turned = abs(vec2(h.x + h.y, h.y - h.x) * 0.70710678) - 0.5 * kSide;
    float square = length(max(turned, 0.0)) + min(max(turned.x, turned.y), 0.0);
    float lobe = length(h - vec2(0.35355 * kSide)) - 0.5 * kSide;
    float outside = smoothstep(-0.03, 0.09, min(square, lobe));
    gl_FragColor = vec4(mix(tone, kVeil, 0.8 * outside), 1.0);
}
