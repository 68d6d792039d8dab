// Black-and-white halftone: round ink dots on a screen turned by 45 degrees, each as large as
// the darkness of the picture under it. Dots grow into a checkerboard at mid grey and into
// white holes in the shadows.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;
uniform mediump vec2 u_scale;  // declared alike in the vertex stage
// The surface's size in pixels. The dot pitch follows the view (kCells across its width, so a
// preview shows the live view's screen of dots, only smaller); the dot edges are softened over
// the same width in pixels as in the live view, so that the few pixels of a small preview's
// dot do not break up into jagged noise.
uniform vec2 u_viewSize;

varying vec2 v_cell;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);
const float kCells = 56.0;  // as in the vertex stage
const float kSoft = 0.08;   // antialiasing of the dot edges, at least
const float kTwoPi = 6.2831853;

void main() {
    // The dot this pixel belongs to, turned back to (across, down) in screen widths and then
    // to frame coordinates.
    vec2 dotCell = floor(v_cell + 0.5);
    vec2 onScreen = vec2(dotCell.x - dotCell.y, dotCell.x + dotCell.y) * (0.70710678 / kCells);
    vec2 at = 0.5 + (onScreen / u_scale).yx;
    // The darkness of the dot's cell: four reads a quarter cell around its centre.
    vec2 quarter = (0.25 / kCells) / u_scale.yx;
    float luma = 0.25 * (dot(texture2D(s_texture, at - quarter).rgb, kLuma) +
                         dot(texture2D(s_texture, at + quarter).rgb, kLuma) +
                         dot(texture2D(s_texture, at + vec2(quarter.x, -quarter.y)).rgb, kLuma) +
                         dot(texture2D(s_texture, at + vec2(-quarter.x, quarter.y)).rgb, kLuma));

    // A smooth bump, 1 at the dot centres and 0 between them; ink where it rises above the
    // brightness. The threshold spans a little beyond 0..1 so that white stays clean white
    // and black solid black.
    vec2 phase = kTwoPi * fract(v_cell);
    float bump = 0.5 + 0.25 * (cos(phase.x) + cos(phase.y));
    // The bump changes by up to about 1.6 per cell; kSoft is the live view's edge at 320
    // pixels across, and smaller surfaces keep that edge width in pixels.
    float soft = max(kSoft, 0.45 * kCells / max(u_viewSize.x, 1.0));
    float threshold = mix(-soft, 1.0 + soft, luma);
    float ink = smoothstep(-soft, soft, bump - threshold);
    gl_FragColor = vec4(vec3(1.0 - ink), 1.0);
}
